#include "engine/TSalvage.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "engine/DerivedNames.h"
#include "engine/ERunAborted.h"
#include "engine/SqlName.h"
#include "engine/TAttachment.h"
#include "engine/TOrphanLog.h"

namespace {

// The parameter marker name of the column at `index`: the column's own name,
// or for a name a marker cannot carry "_" and the position, which no plain
// column name can equal (those begin with a letter), so no two markers of one
// statement share a name and no column gets another column's value.
std::string MarkerName(const std::string& column, std::size_t index) {
  return ParamNameFor(column, "_" + std::to_string(index + 1));
}

}  // namespace

TSalvage::TSalvage(TRecoveryContext& context, TConnection& target, TConnection& source,
                   RestoreFunction restore)
    : context_(context), target_(target), source_(source), restore_(std::move(restore)) {}

std::string TSalvage::TemporaryPath(const std::string& databasePath) {
  const int number = FirstFreeVariant(
      [&](int n) { return std::vector<std::string>{TemporaryPathFor(databasePath, n)}; });
  return number == 0 ? std::string() : TemporaryPathFor(databasePath, number);
}

std::vector<std::string> TSalvage::InsertLines(const std::string& table,
                                               const std::vector<std::string>& columns) {
  std::vector<std::string> lines;
  lines.push_back(" insert into " + SqlName(table) + "(");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    lines.push_back(SqlName(columns[i]) + (i + 1 < columns.size() ? ", " : ""));
  }
  lines.push_back(") values (");
  for (std::size_t i = 0; i < columns.size(); ++i) {
    lines.push_back(":" + MarkerName(columns[i], i) + (i + 1 < columns.size() ? ", " : ""));
  }
  lines.push_back(");");
  return lines;
}

void TSalvage::WriteSummary(const std::vector<std::unique_ptr<TInconsistency>>& list) {
  context_.WriteLog(TOrphanLog::Rule());
  context_.WriteLog("RESUMO :: Inconsistências encontradas: " + std::to_string(list.size()));
  context_.WriteLog(TOrphanLog::Rule());
  for (const auto& record : list) {
    context_.WriteLog("- " + record->TableName);
    context_.WriteLog("  Campos");
    for (const std::string& field : record->KeyFields) {
      context_.WriteLog("    " + field);
    }
    context_.WriteLog("  Dados");
    for (const std::string& key : record->MissingKeys) {
      context_.WriteLog("    " + key);
    }
    context_.WriteLog("");
  }
}

bool TSalvage::BackupExists() const {
  const std::string& path = context_.BackupPath();
  std::error_code error;
  return !path.empty() && std::filesystem::is_regular_file(path, error);
}

bool TSalvage::RestoreOlderBackup(const std::string& temporaryPath) {
  for (;;) {
    if (restore_(context_.BackupPath(), temporaryPath, StepKey::RecuperarDados)) {
      context_.ClearLog();
      context_.WriteLog("Banco temporário restaurado de backup!");
      return true;
    }
    const MessageAnswer answer = context_.Ask(
        QuestionId::TryAnotherBackup,
        "O backup informado está corrompido.\rDeseja informar outro arquivo para restaurar?",
        MessageKind::Confirmation);
    // No ends the salvage: restoring the same file again would fail again.
    if (answer != MessageAnswer::Yes) {
      return false;
    }
    context_.AskForBackupFile();
    if (!BackupExists()) {
      return false;
    }
  }
}

void TSalvage::CopyRows(std::vector<std::unique_ptr<TInconsistency>>& list,
                        const std::string& temporaryPath) {
  // The target still names the level-1 restored database, as the orphan
  // search left it.
  TAttachment targetAttachment(target_);
  TAttachment sourceAttachment(source_, temporaryPath);
  TIBQuery& select = source_.Query();
  TIBQuery& insert = target_.Query();
  for (const auto& record : list) {
    for (std::size_t j = 0; j < record->MissingKeys.size(); ++j) {
      select.Close();
      select.SQL().SetText(" select   * from " + SqlName(record->TableName) + " " +
                           record->WhereClause(static_cast<int>(j)));
      select.Open();
      if (!select.AtEnd()) {
        std::vector<std::string> columns;
        for (int i = 0; i < select.FieldCount(); ++i) {
          columns.push_back(select.Fields(i).Name());
        }
        insert.Close();
        insert.SQL().Assign(InsertLines(record->TableName, columns));
        insert.Prepare();
        for (int i = 0; i < select.FieldCount(); ++i) {
          const TField& field = select.Fields(i);
          TParam& param = insert.ParamNamed(MarkerName(field.Name(), static_cast<std::size_t>(i)));
          // The column's own type, so that a NULL is sent as that type too.
          param.SetDataType(field.DataType());
          param.SetValue(field.IsNull() ? TValue() : field.Value());
        }
        insert.ExecQuery();
        target_.Transaction().Commit();
        record->DataFound = true;
      }
      select.Close();
    }
  }
  sourceAttachment.Detach();
  targetAttachment.Detach();
}

bool TSalvage::doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) {
  try {
    WriteSummary(list);
    if (!BackupExists()) {
      const MessageAnswer answer = context_.Ask(
          QuestionId::InformBackupFile,
          "Foram encontradas inconsistências neste banco de dados.\rSe houver um backup "
          "anterior, poderemos tentar achar os registros ausentes e importá-los.\rDeseja "
          "informar um arquivo do backup (.FBK)?",
          MessageKind::Confirmation);
      if (answer == MessageAnswer::Yes) {
        context_.AskForBackupFile();
      }
    }
    const std::string temporaryPath = TemporaryPath(context_.DatabasePath());
    if (temporaryPath.empty()) {
      context_.Tell("Todos os nomes para o banco temporário já estão em uso.", MessageKind::Error);
      return false;
    }
    temporaryPath_ = temporaryPath;
    if (!BackupExists() || !RestoreOlderBackup(temporaryPath)) {
      context_.Tell("Nenhum backup encontrado.", MessageKind::Information);
      return false;
    }
    CopyRows(list, temporaryPath);
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& e) {
    context_.Tell(std::string("doCopyDataFromOldBackup() -> Excetion: ") + e.what(),
                  MessageKind::Error);
    return false;
  }
  for (const auto& record : list) {
    if (!record->DataFound) {
      return false;
    }
  }
  return true;
}

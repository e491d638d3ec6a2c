#include "engine/TSalvage.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <set>
#include <system_error>

#include "engine/DerivedNames.h"
#include "engine/ERunAborted.h"
#include "engine/SqlName.h"
#include "engine/TAttachment.h"
#include "engine/TOrphanLog.h"
#include "engine/TTableLayout.h"

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
  return TTableLayout::InsertLines(table, columns);
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

void TSalvage::AddMissingAncestors(const TTableLayout& layout, const std::vector<TFieldType>& types,
                                   std::vector<std::vector<TValue>>& rows) {
  // A row of a table that refers to itself needs its parent row too: when the
  // target lacks it, it comes from the older backup as well, and so on up.
  for (const TTableLayout::TSelfReference& reference : layout.SelfReferences()) {
    std::vector<std::size_t> columns;
    std::vector<std::size_t> referenced;
    std::string condition;
    for (std::size_t i = 0; i < reference.Columns.size(); ++i) {
      columns.push_back(layout.IndexOf(reference.Columns[i]));
      referenced.push_back(layout.IndexOf(reference.Referenced[i]));
      condition += (i == 0 ? " where " : " and ") + SqlName(reference.Referenced[i]) + " = :P" +
                   std::to_string(i + 1);
    }
    if (std::find(columns.begin(), columns.end(), layout.Columns().size()) != columns.end() ||
        std::find(referenced.begin(), referenced.end(), layout.Columns().size()) !=
            referenced.end()) {
      continue;  // a key column the copy cannot carry
    }
    std::set<std::string> held;
    for (const auto& row : rows) {
      held.insert(TTableLayout::KeyOf(row, referenced));
    }
    TIBQuery inTarget;
    inTarget.SetDatabase(&target_.Database());
    inTarget.SQL().SetText("select count(*) from " + SqlName(layout.Table()) + condition);
    TIBQuery inSource;
    inSource.SetDatabase(&source_.Database());
    inSource.SQL().SetText("select " + layout.SelectList() + " from " + SqlName(layout.Table()) +
                           condition);
    for (std::size_t next = 0; next < rows.size(); ++next) {
      const std::vector<TValue> row = rows[next];
      const std::string parent = TTableLayout::KeyOf(row, columns);
      if (parent.empty() || !held.insert(parent).second) {
        continue;
      }
      for (TIBQuery* query : {&inTarget, &inSource}) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
          query->ParamNamed("P" + std::to_string(i + 1)).SetDataType(types[columns[i]]);
          query->ParamNamed("P" + std::to_string(i + 1)).SetValue(row[columns[i]]);
        }
      }
      inTarget.Open();
      const bool present = !inTarget.AtEnd() && inTarget.Fields(0).AsString() != "0";
      inTarget.Close();
      if (present) {
        continue;
      }
      inSource.Open();
      if (!inSource.AtEnd()) {
        rows.emplace_back();
        TTableLayout::ReadRow(inSource, rows.back());
      }
      inSource.Close();
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
    // Stored columns only: a COMPUTED BY column refuses any value.
    const TTableLayout layout = TTableLayout::Read(target_, record->TableName);
    std::vector<std::vector<TValue>> rows;
    std::vector<TFieldType> types;
    for (std::size_t j = 0; j < record->MissingKeys.size(); ++j) {
      select.Close();
      select.SQL().SetText(" select   " + layout.SelectList() + " from " +
                           SqlName(record->TableName) + " " +
                           record->WhereClause(static_cast<int>(j)));
      select.Open();
      if (!select.AtEnd()) {
        if (types.empty()) {
          types = TTableLayout::FieldTypes(select);
        }
        rows.emplace_back();
        TTableLayout::ReadRow(select, rows.back());
      }
      select.Close();
    }
    if (rows.empty()) {
      continue;
    }
    AddMissingAncestors(layout, types, rows);
    if (!layout.ArrayColumns().empty()) {
      std::string names;
      for (const std::string& column : layout.ArrayColumns()) {
        names += (names.empty() ? "" : ", ") + column;
      }
      context_.WriteLog("Colunas matriz de " + record->TableName + " não copiadas: " + names);
    }
    insert.Close();
    insert.SQL().Assign(layout.InsertLines());
    insert.Prepare();
    // A table that refers to itself gets its parent rows first.
    for (const std::size_t row : TTableLayout::ParentsFirst(rows.size(), layout.LinksOf(rows))) {
      TTableLayout::BindRow(insert, layout.Columns(), types, rows[row]);
      insert.ExecQuery();
      target_.Transaction().Commit();
      record->DataFound = true;
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

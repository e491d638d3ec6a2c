#include "engine/rows/TSalvage.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <set>
#include <stdexcept>
#include <system_error>

#include "engine/files/DerivedNames.h"
#include "engine/firebird/DamageLines.h"
#include "engine/firebird/RaisedError.h"
#include "engine/firebird/RestoreCounts.h"
#include "engine/firebird/SqlName.h"
#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TServerDialect.h"
#include "engine/rows/TOrphanLog.h"
#include "engine/rows/TTableLayout.h"
#include "engine/rows/TTriggerPause.h"
#include "engine/run/TextUtil.h"

TSalvage::TSalvage(TRecoveryContext& context, TConnection& target, TConnection& source,
                   RestoreFunction restore, AcceptFunction accept)
    : context_(context),
      target_(target),
      source_(source),
      restore_(std::move(restore)),
      accept_(std::move(accept)) {}

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
    const StepResult restored =
        restore_(context_.BackupPath(), temporaryPath, StepKey::RecuperarDados);
    if (restored) {
      // Its rows per table for the report, before the output is cleared.
      olderBackupRestored_ = true;
      olderBackupCounts_ = RowCountsFromRestore(context_.RunLog());
      context_.ClearLog();
      context_.WriteLog("Banco temporário restaurado de backup!");
      return true;
    }
    // The salvage asks for another backup: the operator sees why first.
    context_.TellRaised("doRestore", restored);
    // A file the server could not open is no corrupt backup: say which.
    // Each distinct server line once: the whole output is in the log.
    std::string failure = restored.error;
    for (const std::string& line : CondensedLines(ErrorLines(context_.RunLog()))) {
      failure += "\r" + line;
    }
    const bool unopened = TServerDialect::CannotOpen(failure);
    const MessageAnswer answer = context_.Ask(
        QuestionId::TryAnotherBackup,
        (unopened ? "O servidor não conseguiu abrir o backup informado: " + context_.BackupPath() +
                        "\r" + failure.substr(failure.find_first_not_of('\r')) + "\r"
                  : std::string("O backup informado está corrompido.\r")) +
            "Deseja informar outro arquivo para restaurar?",
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

// The rows to bring into one table, with the records they were looked up for
// (null for a parent brought along).
struct TSalvage::TPending {
  TTableLayout layout;
  std::vector<TFieldType> types;
  std::vector<std::vector<TValue>> rows;
  std::vector<TInconsistency*> records;
};

namespace {

// "where A = :P1 and B = :P2" over these columns.
std::string KeyCondition(const std::vector<std::string>& columns) {
  std::string condition;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    condition +=
        (i == 0 ? " where " : " and ") + SqlName(columns[i]) + " = :P" + std::to_string(i + 1);
  }
  return condition;
}

// Positions of the columns in the layout; empty when one is not carried.
std::vector<std::size_t> Positions(const TTableLayout& layout,
                                   const std::vector<std::string>& columns) {
  std::vector<std::size_t> positions;
  for (const std::string& column : columns) {
    positions.push_back(layout.IndexOf(column));
    if (positions.back() == layout.Columns().size()) {
      return {};
    }
  }
  return positions;
}

}  // namespace

void TSalvage::AddMissingParents(std::map<std::string, TPending>& pending,
                                 std::vector<std::string>& order) {
  // A row needs the rows its foreign keys refer to. Those the target lacks
  // come from the older backup as well, in whatever table, and so on up:
  // a lost department's manager may be a lost employee no child names.
  std::vector<std::pair<std::string, std::size_t>> work;
  for (const std::string& table : order) {
    for (std::size_t row = 0; row < pending.at(table).rows.size(); ++row) {
      work.emplace_back(table, row);
    }
  }
  std::set<std::string> looked;
  while (!work.empty()) {
    const auto [table, index] = work.back();
    work.pop_back();
    for (const TTableLayout::TReference& reference : pending.at(table).layout.ForeignKeys()) {
      const TPending& child = pending.at(table);
      const std::vector<TValue> row = child.rows[index];
      const std::vector<std::size_t> columns = Positions(child.layout, reference.Columns);
      const std::string key = columns.empty() ? std::string() : TTableLayout::KeyOf(row, columns);
      if (key.empty()) {
        continue;  // NULL, or a column the copy cannot carry
      }
      if (pending.find(reference.Table) == pending.end()) {
        pending[reference.Table].layout = TTableLayout::Read(target_, reference.Table);
        order.push_back(reference.Table);
      }
      TPending& parent = pending.at(reference.Table);
      const std::vector<std::size_t> referenced = Positions(parent.layout, reference.Referenced);
      if (referenced.empty() ||
          std::any_of(parent.rows.begin(), parent.rows.end(), [&](const auto& held) {
            return TTableLayout::KeyOf(held, referenced) == key;
          })) {
        continue;
      }
      std::string asked = reference.Table + '\x01';
      for (const std::string& column : reference.Referenced) {
        asked += column + '\x02';
      }
      if (!looked.insert(asked + '\x01' + key).second) {
        continue;
      }
      const std::string condition = KeyCondition(reference.Referenced);
      TIBQuery inTarget;
      inTarget.SetDatabase(&target_.Database());
      inTarget.SQL().SetText("select count(*) from " + SqlName(reference.Table) + condition);
      TIBQuery inSource;
      inSource.SetDatabase(&source_.Database());
      inSource.SQL().SetText("select " + parent.layout.SelectList() + " from " +
                             SqlName(reference.Table) + condition);
      for (TIBQuery* query : {&inTarget, &inSource}) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
          TParam& param = query->ParamNamed("P" + std::to_string(i + 1));
          param.SetDataType(child.types[columns[i]]);
          param.SetValue(row[columns[i]]);
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
        if (parent.types.empty()) {
          parent.types = TTableLayout::FieldTypes(inSource);
        }
        parent.rows.emplace_back();
        unreadableArrays_ += parent.layout.ReadRow(inSource, parent.rows.back());
        parent.records.push_back(nullptr);
        work.emplace_back(reference.Table, parent.rows.size() - 1);
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
  std::map<std::string, TPending> pending;
  std::vector<std::string> order;  // tables in the order they came up
  // A record that cannot be looked up ends the salvage, after the rows found
  // before it are in.
  std::exception_ptr stopped;
  try {
    for (const auto& record : list) {
      if (pending.find(record->TableName) == pending.end()) {
        // Stored columns only: a COMPUTED BY column refuses any value.
        pending[record->TableName].layout = TTableLayout::Read(target_, record->TableName);
        order.push_back(record->TableName);
      }
      TPending& table = pending.at(record->TableName);
      for (std::size_t j = 0; j < record->MissingKeys.size(); ++j) {
        select.Close();
        select.SQL().SetText(" select   " + table.layout.SelectList() + " from " +
                             SqlName(record->TableName) + " " +
                             record->WhereClause(static_cast<int>(j)));
        select.Open();
        if (!select.AtEnd()) {
          if (table.types.empty()) {
            table.types = TTableLayout::FieldTypes(select);
          }
          table.rows.emplace_back();
          unreadableArrays_ += table.layout.ReadRow(select, table.rows.back());
          table.records.push_back(record.get());
        }
        select.Close();
      }
    }
    AddMissingParents(pending, order);
  } catch (const std::exception&) {
    stopped = std::current_exception();
  }

  // Rows whose parent comes later are tried again once it is in; what stays
  // refused after a round without progress ends the salvage with its error.
  struct TRow {
    std::string table;
    std::size_t index;
  };
  std::vector<TRow> rows;
  std::vector<std::string> filled;
  for (const std::string& name : order) {
    if (!pending.at(name).rows.empty()) {
      filled.push_back(name);
    }
  }
  // Copied rows keep their values: no trigger of the target runs on them.
  TTriggerPause triggers(target_, filled);
  std::map<std::string, TIBQuery> inserts;
  for (const std::string& name : order) {
    const TPending& table = pending.at(name);
    if (table.rows.empty()) {
      continue;
    }
    TIBQuery& insert = inserts[name];
    insert.SetDatabase(&target_.Database());
    insert.SQL().Assign(table.layout.InsertLines());
    insert.Prepare();
    // A table that refers to itself gets its parent rows first.
    for (const std::size_t row :
         TTableLayout::ParentsFirst(table.rows.size(), table.layout.LinksOf(table.rows))) {
      rows.push_back({name, row});
    }
  }
  std::string error;
  bool progress = true;
  while (progress && !rows.empty()) {
    progress = false;
    std::vector<TRow> refused;
    for (const TRow& row : rows) {
      const TPending& table = pending.at(row.table);
      try {
        TIBQuery& insert = inserts.at(row.table);
        table.layout.BindRow(insert, table.types, table.rows[row.index]);
        insert.ExecQuery();
        target_.Transaction().Commit();
      } catch (const std::exception& e) {
        error = e.what();
        refused.push_back(row);
        continue;
      }
      progress = true;
      ++copied_[row.table];
      if (TInconsistency* record = table.records[row.index]) {
        record->DataFound = true;
      }
    }
    rows = std::move(refused);
  }
  inserts.clear();
  if (unreadableArrays_ > 0) {
    context_.WriteLog(TTableLayout::UnreadableArraysText(unreadableArrays_, "no backup anterior"));
  }
  // A salvage that failed reports its own error; its target is never the
  // operator's, and the triggers come back on the way out.
  if (stopped) {
    std::rethrow_exception(stopped);
  }
  if (!rows.empty()) {
    throw std::runtime_error(error);
  }
  triggers.Resume();
  if (!triggers.Paused().empty()) {
    context_.WriteLog(triggers.LogLine());
  }
  sourceAttachment.Detach();
  targetAttachment.Detach();
}

StepResult TSalvage::doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) {
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
    source_.SetDatabasePath(temporaryPath);
    if (accept_ && !accept_(target_, source_)) {
      context_.Tell(
          "O backup anterior parece ser de outro banco de dados e não foi usado; os "
          "registros ausentes não foram trazidos.",
          MessageKind::Error);
      return false;
    }
    CopyRows(list, temporaryPath);
  } catch (const std::exception& error) {
    return RaisedError(error);
  }
  for (const auto& record : list) {
    if (!record->DataFound) {
      return false;
    }
  }
  return true;
}

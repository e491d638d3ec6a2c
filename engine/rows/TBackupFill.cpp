#include "engine/rows/TBackupFill.h"

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/TAttachment.h"
#include "engine/rows/TKeyRuns.h"
#include "engine/rows/TKeySet.h"
#include "engine/rows/TTableLayout.h"
#include "engine/rows/TTriggerPause.h"
#include "engine/rows/TableOrder.h"
#include "engine/run/TextUtil.h"

namespace {

// The rows of one table that only the older backup has.
struct TMissing {
  TTableLayout layout;
  std::vector<std::size_t> keyPositions;  // empty: matched as whole rows
  std::vector<TFieldType> types;
  std::vector<std::vector<TValue>> rows;
};

std::vector<std::size_t> KeyPositions(const TTableLayout& layout) {
  std::vector<std::size_t> positions;
  for (const std::string& column : layout.PrimaryKey()) {
    positions.push_back(layout.IndexOf(column));
    if (positions.back() == layout.Columns().size()) {
      return {};
    }
  }
  return positions;
}

std::string Identity(const TMissing& table, const std::vector<TValue>& values) {
  return table.keyPositions.empty() ? TTableLayout::RowText(values, table.layout.Columns().size())
                                    : TTableLayout::KeyOf(values, table.keyPositions);
}

// Beyond this many rows missing, the older backup's rows are read in one
// pass instead of looked up one key at a time.
constexpr std::size_t kLookedUpRows = 2000;

// The current row's values as ReadRow would give them, read through a
// select of the key columns only.
void ReadKeyValues(const TIBQuery& select, std::vector<TValue>& values) {
  values.resize(static_cast<std::size_t>(select.FieldCount()));
  for (std::size_t i = 0; i < values.size(); ++i) {
    const TField& field = select.Fields(static_cast<int>(i));
    values[i] = field.IsNull() ? TValue() : field.Value();
  }
}

// Whole rows of the older backup, all of them, by one pass: the keyless
// table's identity needs every column.
void LoadMissingWholeRows(TConnection& target, TConnection& older, TMissing& table) {
  // What the repaired database holds; a row without a key stands for one
  // identical row of the older backup.
  std::map<std::string, long long> wholeRows;
  TIBQuery select;
  select.SetDatabase(&target.Database());
  select.SQL().SetText("select " + table.layout.SelectList() + " from " +
                       SqlName(table.layout.Table()));
  select.Open();
  std::vector<TValue> values;
  while (!select.AtEnd()) {
    table.layout.ReadRow(select, values);
    ++wholeRows[Identity(table, values)];
    select.Next();
  }
  select.Close();

  TIBQuery fromOlder;
  fromOlder.SetDatabase(&older.Database());
  fromOlder.SQL().SetText("select " + table.layout.SelectList() + " from " +
                          SqlName(table.layout.Table()));
  fromOlder.Open();
  table.types = TTableLayout::FieldTypes(fromOlder);
  while (!fromOlder.AtEnd()) {
    table.layout.ReadRow(fromOlder, values);
    auto held = wholeRows.find(Identity(table, values));
    if (held == wholeRows.end() || held->second-- <= 0) {
      table.rows.push_back(values);
    }
    fromOlder.Next();
  }
  fromOlder.Close();
}

bool IsIntegerType(TFieldType type) {
  return type == TFieldType::Smallint || type == TFieldType::Integer ||
         type == TFieldType::LargeInt;
}

// The older backup's whole rows the repaired database lacks: with
// `onePass`, every row read and those `isMissing` accepts kept; else each of
// `keys` (values of the key columns, of `keyTypes`) looked up on its own.
void ReadMissingRows(TConnection& older, TMissing& table, bool onePass,
                     const std::function<bool(const std::vector<TValue>&)>& isMissing,
                     const std::vector<std::vector<TValue>>& keys,
                     const std::vector<TFieldType>& keyTypes) {
  TIBQuery rows;
  rows.SetDatabase(&older.Database());
  std::string sql =
      "select " + table.layout.SelectList() + " from " + SqlName(table.layout.Table());
  std::vector<TValue> values;
  const auto keep = [&](bool all) {
    if (table.types.empty()) {
      table.types = TTableLayout::FieldTypes(rows);
    }
    while (!rows.AtEnd()) {
      table.layout.ReadRow(rows, values);
      if (all || isMissing(values)) {
        table.rows.push_back(values);
      }
      rows.Next();
    }
    rows.Close();
  };
  if (onePass) {
    rows.SQL().SetText(sql);
    rows.Open();
    keep(false);
    return;
  }
  for (std::size_t i = 0; i < table.keyPositions.size(); ++i) {
    sql += (i == 0 ? " where " : " and ") + SqlName(table.layout.Columns()[table.keyPositions[i]]) +
           " = :K" + std::to_string(i);
  }
  rows.SQL().SetText(sql);
  for (const std::vector<TValue>& key : keys) {
    for (std::size_t i = 0; i < key.size(); ++i) {
      TParam& param = rows.ParamNamed("K" + std::to_string(i));
      param.SetDataType(keyTypes[i]);
      param.SetValue(key[i]);
    }
    rows.Open();
    keep(true);
  }
}

// The older backup's rows whose integer key the repaired database lacks,
// found through both databases' key runs. False when the key is no integer
// or the runs cannot be had: the caller compares the keys themselves.
bool LoadMissingByRuns(TConnection& target, TConnection& older, TMissing& table) {
  if (table.keyPositions.size() != 1) {
    return false;
  }
  const std::string& column = table.layout.Columns()[table.keyPositions[0]];
  TIBQuery probe;
  probe.SetDatabase(&older.Database());
  probe.SQL().SetText("select " + table.layout.SelectList() + " from " +
                      SqlName(table.layout.Table()) + " where 1 = 0");
  probe.Open();
  const std::vector<TFieldType> types = TTableLayout::FieldTypes(probe);
  probe.Close();
  if (!IsIntegerType(types.at(table.keyPositions[0]))) {
    return false;
  }
  const std::optional<TKeyRuns::TRuns> held = TKeyRuns::Read(target, table.layout.Table(), column);
  const std::optional<TKeyRuns::TRuns> olderRuns =
      held ? TKeyRuns::Read(older, table.layout.Table(), column) : std::nullopt;
  if (!olderRuns) {
    return false;
  }
  const TKeyRuns::TRuns missing = TKeyRuns::Missing(*olderRuns, *held);
  const unsigned long long count = TKeyRuns::Count(missing);
  table.types = types;
  const std::size_t key = table.keyPositions[0];
  std::vector<std::vector<TValue>> keys;
  if (count <= kLookedUpRows) {
    for (const auto& [first, last] : missing) {
      for (long long value = first;; ++value) {
        keys.push_back({TValue(value)});
        if (value == last) {
          break;
        }
      }
    }
  }
  ReadMissingRows(older, table, count > kLookedUpRows,
                  [&](const std::vector<TValue>& values) {
                    return !values[key].IsNull() &&
                           TKeyRuns::Contains(missing, std::stoll(values[key].AsString()));
                  },
                  keys, {TFieldType::LargeInt});
  return true;
}

void LoadMissing(TConnection& target, TConnection& older, TMissing& table) {
  if (table.keyPositions.empty()) {
    LoadMissingWholeRows(target, older, table);
    return;
  }
  if (LoadMissingByRuns(target, older, table)) {
    return;
  }
  // Keys only: the whole rows of the few the repaired database lacks are
  // read afterwards, instead of every column of every row of both.
  std::string keyList;
  for (const std::size_t position : table.keyPositions) {
    keyList += (keyList.empty() ? "" : ", ") + SqlName(table.layout.Columns()[position]);
  }
  std::vector<std::size_t> inKeyList(table.keyPositions.size());
  for (std::size_t i = 0; i < inKeyList.size(); ++i) {
    inKeyList[i] = i;
  }
  const std::string keySelect = "select " + keyList + " from " + SqlName(table.layout.Table());
  TKeySet keys;
  TIBQuery select;
  select.SetDatabase(&target.Database());
  select.SQL().SetText(keySelect);
  select.Open();
  std::vector<TValue> values;
  while (!select.AtEnd()) {
    ReadKeyValues(select, values);
    keys.Insert(TTableLayout::KeyOf(values, inKeyList));
    select.Next();
  }
  select.Close();

  // The older backup's keys the repaired database lacks, in the older
  // backup's order, each once (a key held twice there is found twice below).
  TKeySet missing;
  std::vector<std::vector<TValue>> missingKeys;
  std::vector<TFieldType> keyTypes;
  TIBQuery fromOlder;
  fromOlder.SetDatabase(&older.Database());
  fromOlder.SQL().SetText(keySelect);
  fromOlder.Open();
  keyTypes = TTableLayout::FieldTypes(fromOlder);
  while (!fromOlder.AtEnd()) {
    ReadKeyValues(fromOlder, values);
    const std::string identity = TTableLayout::KeyOf(values, inKeyList);
    if (!identity.empty() && !keys.Contains(identity) && missing.Insert(identity)) {
      missingKeys.push_back(values);
    }
    fromOlder.Next();
  }
  fromOlder.Close();
  keys.Clear();

  ReadMissingRows(
      older, table, missingKeys.size() > kLookedUpRows,
      [&](const std::vector<TValue>& values) { return missing.Contains(Identity(table, values)); },
      missingKeys, keyTypes);
}

std::string QuestionText(const std::vector<std::string>& order,
                         const std::map<std::string, TMissing>& missing) {
  std::string text =
      "O backup anterior tem registros que faltam no banco reparado, nas tabelas em que o dano "
      "foi encontrado:";
  for (const std::string& name : order) {
    const auto& table = missing.at(name);
    if (!table.rows.empty()) {
      text += "\r" + name + ": " + std::to_string(table.rows.size()) + " registro(s)";
    }
  }
  text +=
      "\r\rEles entram como o backup anterior os tinha (valores daquela data); algum deles pode "
      "ter sido excluído depois do backup. Registros que o banco danificado ainda tinha nunca "
      "são substituídos.\rDeseja inseri-los?";
  return text;
}

}  // namespace

TBackupFill::TBackupFill(TRecoveryContext& context, TConnection& target, TConnection& older)
    : context_(context), target_(target), older_(older) {}

TableLosses TBackupFill::Fill(const std::vector<std::string>& tables) {
  TAttachment targetAttachment(target_);
  TAttachment olderAttachment(older_);
  std::map<std::string, TMissing> missing;
  for (const std::string& table : tables) {
    context_.ThrowIfCancelled();
    TMissing& entry = missing[table];
    entry.layout = TTableLayout::Read(target_, table);
    entry.keyPositions = KeyPositions(entry.layout);
    LoadMissing(target_, older_, entry);
  }
  if (older_.Transaction().Active()) {
    older_.Transaction().Rollback();  // only read
  }
  const TableOrder order = ParentsFirstTables(
      tables, [&](const std::string& table) { return missing.at(table).layout.ParentTables(); });
  std::vector<std::string> filled;
  for (const std::string& table : order.order) {
    if (!missing.at(table).rows.empty()) {
      filled.push_back(table);
    }
  }
  TableLosses result;
  if (filled.empty()) {
    return result;
  }
  const bool insert =
      context_.Ask(QuestionId::RowsFromBackup, QuestionText(order.order, missing),
                   MessageKind::Confirmation, MessageAnswer::Yes) == MessageAnswer::Yes;
  if (!order.cycle.empty()) {
    context_.WriteLog("Tabelas que se referem umas às outras, preenchidas sem ordem garantida: " +
                      JoinedNames(order.cycle));
  }
  // Rows refused once are tried again after the others: their parents may
  // have come later.
  struct TRow {
    std::string table;
    std::size_t index;
  };
  std::vector<TRow> rows;
  for (const std::string& name : filled) {
    TMissing& table = missing.at(name);
    for (const std::size_t row :
         TTableLayout::ParentsFirst(table.rows.size(), table.layout.LinksOf(table.rows))) {
      rows.push_back({name, row});
    }
  }
  std::map<std::string, std::string> errors;
  if (insert) {
    TTriggerPause triggers(target_, filled);
    std::map<std::string, TIBQuery> inserts;
    for (const std::string& name : filled) {
      TIBQuery& statement = inserts[name];
      statement.SetDatabase(&target_.Database());
      statement.SQL().Assign(missing.at(name).layout.InsertLines());
      statement.Prepare();
    }
    bool progress = true;
    while (progress && !rows.empty()) {
      progress = false;
      std::vector<TRow> refused;
      for (const TRow& row : rows) {
        const TMissing& table = missing.at(row.table);
        try {
          TIBQuery& statement = inserts.at(row.table);
          table.layout.BindRow(statement, table.types, table.rows[row.index]);
          statement.ExecQuery();
        } catch (const std::exception& e) {
          errors[row.table] = FirstLine(e.what());
          refused.push_back(row);
          continue;
        }
        progress = true;
        ++result[row.table].fromOlderBackup;
      }
      rows = std::move(refused);
    }
    inserts.clear();
    target_.Transaction().Commit();
    triggers.Resume();
    if (!triggers.Paused().empty()) {
      context_.WriteLog(triggers.LogLine());
    }
  }
  // Left out by the operator, or refused by the database: gone.
  for (const TRow& row : rows) {
    TableLoss& loss = result[row.table];
    ++loss.lost;
    if (loss.keys.size() < kLostKeysKept) {
      const TMissing& table = missing.at(row.table);
      loss.keys.push_back(table.layout.KeyText(table.rows[row.index]));
    }
  }
  for (const std::string& name : filled) {
    const TableLoss& loss = result[name];
    context_.WriteLog("Tabela " + name + ": " + std::to_string(loss.fromOlderBackup) +
                      " registros trazidos do backup anterior" +
                      (loss.lost > 0 ? ", " + std::to_string(loss.lost) + " não inseridos" +
                                           (errors.count(name) ? ": " + errors.at(name) : "")
                                     : std::string()) +
                      ".");
  }
  targetAttachment.Detach();
  return result;
}

#include "engine/rows/TOrphanSearch.h"

#include <cmath>
#include <exception>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/firebird/TAttachment.h"
#include "engine/firebird/ViolationLines.h"
#include "engine/rows/KeyText.h"
#include "engine/rows/TOrphanLog.h"
#include "engine/run/TextUtil.h"

namespace {

std::string ColumnList(const std::vector<std::string>& fields) {
  std::string list;
  for (const std::string& field : fields) {
    if (!list.empty()) {
      list += ',';
    }
    list += SqlName(field);
  }
  return list;
}

bool IsText(const TField& field) {
  return field.DataType() == TFieldType::String || field.DataType() == TFieldType::FixedChar;
}

// One key read from the query's current row: its values as texts (text
// columns without trailing blanks, which the server does not compare) and
// its lookup form. False when a value is NULL: the server does not check a
// foreign key with a NULL part, so such a row is never an orphan.
bool ReadKey(const TIBQuery& query, std::vector<std::string>& values, std::string& lookup) {
  const int count = query.FieldCount();
  lookup.clear();
  values.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    const TField& field = query.Fields(i);
    if (field.IsNull()) {
      return false;
    }
    std::string& value = values[static_cast<std::size_t>(i)];
    field.ReadText(value);  // reuses the string's buffer, row after row
    if (IsText(field)) {
      value.resize(WithoutTrailingBlanks(value).size());
    }
    AppendLookupValue(lookup, value, count > 1);
  }
  return true;
}

}  // namespace

TOrphanSearch::TOrphanSearch(TRecoveryContext& context, TConnection& target)
    : context_(context), target_(target) {}

std::pair<std::string, std::string> TOrphanSearch::ResolveParentKey(
    const std::string& constraintName, const std::string& tableName) {
  const auto rows = SystemRows(target_.Query(),
                               "select c.rdb$const_name_uq, k.rdb$relation_name"
                               " from rdb$ref_constraints c"
                               " join rdb$relation_constraints k"
                               " on k.rdb$constraint_name = c.rdb$const_name_uq"
                               " where c.rdb$constraint_name = :NAME",
                               constraintName);
  if (rows.empty()) {
    return {constraintName, tableName};
  }
  return {rows[0][0], rows[0][1]};
}

std::vector<TOrphanSearch::TChildReference> TOrphanSearch::getReferencingTables(
    const std::string& restoredPath, const std::string& keyConstraint) {
  TAttachment attachment(target_, restoredPath);
  const auto rows = SystemRows(target_.Query(),
                               "select rc.rdb$relation_name, rc.rdb$constraint_name,"
                               " s.rdb$field_name"
                               " from rdb$ref_constraints c"
                               " join rdb$relation_constraints rc"
                               " on rc.rdb$constraint_name = c.rdb$constraint_name"
                               " join rdb$index_segments s on s.rdb$index_name = rc.rdb$index_name"
                               " where c.rdb$const_name_uq = :NAME"
                               " order by rc.rdb$relation_name, rc.rdb$constraint_name,"
                               " s.rdb$field_position",
                               keyConstraint);
  std::vector<TChildReference> children;
  for (const auto& row : rows) {
    if (children.empty() || children.back().Constraint != row[1]) {
      children.push_back({row[0], row[1], {}});
    }
    children.back().Fields.push_back(row[2]);
  }
  attachment.Detach();
  return children;
}

std::vector<std::string> TOrphanSearch::getKeyFields(const std::string& keyConstraint) {
  TIBQuery& query = target_.Query();
  auto rows = SystemRows(query,
                         "select s.rdb$field_name from rdb$relation_constraints k"
                         " join rdb$index_segments s on s.rdb$index_name = k.rdb$index_name"
                         " where k.rdb$constraint_name = :NAME order by s.rdb$field_position",
                         keyConstraint);
  if (rows.empty()) {
    // Not a constraint: the name of the index that holds the key.
    rows = SystemRows(query,
                      "select s.rdb$field_name from rdb$index_segments s"
                      " where s.rdb$index_name = :NAME order by s.rdb$field_position",
                      keyConstraint);
  }
  std::vector<std::string> fields;
  for (const auto& row : rows) {
    fields.push_back(row[0]);
  }
  return fields;
}

std::unique_ptr<TInconsistency> TOrphanSearch::checkInconsistencies(const std::string& restoredPath,
                                                                    const std::string& line) {
  if (coveredForeignKeys_.count({restoredPath, getConstraintName(line)}) != 0) {
    return nullptr;  // its parent key was analysed for an earlier line
  }
  TAttachment attachment(target_, restoredPath);
  const auto [keyConstraint, parentTable] =
      ResolveParentKey(getConstraintName(line), getTableName(line));
  if (!analysed_.insert({restoredPath, keyConstraint}).second) {
    return nullptr;  // this parent key was analysed for an earlier line
  }
  const std::vector<TChildReference> children = getReferencingTables(restoredPath, keyConstraint);
  if (children.empty()) {
    return nullptr;
  }

  auto record = std::make_unique<TInconsistency>();
  record->TableName = parentTable;
  TOrphanLog log(context_);
  log.Begin(parentTable);
  log.Append("Obtendo relacionamentos ...");
  record->KeyFields = getKeyFields(keyConstraint);
  for (const TChildReference& child : children) {
    log.Append(child.Table);
  }
  log.Append("");
  log.Append("Carregando dados...");

  TParentKey parent;
  parent.Table = parentTable;
  parent.Fields = record->KeyFields;
  parent.IndexActive = KeyIndexActive(keyConstraint);
  const std::map<std::string, long long> rows = EstimatedRows();
  const auto rowsOf = [&](const std::string& table) {
    const auto found = rows.find(table);
    return found == rows.end() ? -1LL : found->second;
  };
  log.Append("");

  TKeySet seen;
  for (std::size_t n = 0; n < children.size(); ++n) {
    const TWay way = ChooseWay(rowsOf(parentTable), rowsOf(children[n].Table), parent.IndexActive);
    SearchChild(children[n], n + 1, children.size(), way, parent, record->MissingKeys, seen);
    coveredForeignKeys_.insert({restoredPath, children[n].Constraint});
  }

  const std::string label = record->KeyFields.empty() ? std::string() : record->KeyFields.back();
  log.Close(record->MissingKeys, parentTable, label);
  attachment.Detach();
  if (record->MissingKeys.empty()) {
    return nullptr;
  }
  return record;
}

TOrphanSearch::TWay TOrphanSearch::ChooseWay(long long parentRows, long long childRows,
                                             bool parentIndexActive) {
  if (!parentIndexActive) {
    return TWay::Sorted;
  }
  if (parentRows < 0 || childRows < 0) {
    return TWay::Lookup;
  }
  // Sorting costs (parent + child) rows, looking up about four times the
  // child's rows; half of that margin is kept for the sort's growing cost.
  return parentRows <= 2 * childRows ? TWay::Sorted : TWay::Lookup;
}

std::map<std::string, long long> TOrphanSearch::EstimatedRows() {
  TIBQuery& query = target_.Query();
  query.Close();
  // A unique index's selectivity is one over its keys, one key per row.
  query.SQL().SetText(
      "select trim(i.rdb$relation_name), max(1 / i.rdb$statistics) from rdb$indices i"
      " where i.rdb$unique_flag = 1 and coalesce(i.rdb$index_inactive, 0) = 0"
      " and i.rdb$statistics > 0 group by 1");
  query.Open();
  std::map<std::string, long long> rows;
  while (!query.AtEnd()) {
    rows[query.Fields(0).AsString()] =
        static_cast<long long>(std::llround(std::stod(query.Fields(1).AsString())));
    query.Next();
  }
  query.Close();
  return rows;
}

std::string TOrphanSearch::MissingKeysSql(TWay way, const TChildReference& child,
                                          const TParentKey& parent) {
  if (way != TWay::Sorted) {
    std::string sql =
        " select distinct   " + ColumnList(child.Fields) + " from   " + SqlName(child.Table) + " C";
    if (way == TWay::Lookup) {
      // Only the keys the parent lacks, looked up through its index.
      sql += MissingParentCondition(parent.Table, child.Fields, parent.Fields);
    }
    return sql + " order by   1";
  }
  // Every key of the child (source 1) and of the parent (source 0) in one
  // sort: a group without a parent row is a key the parent lacks. A key with
  // a NULL part names nothing, as the server checks it.
  std::string childKeys;
  std::string parentKeys;
  std::string names;
  std::string notNull;
  std::string parentNotNull;
  for (std::size_t i = 0; i < child.Fields.size() && i < parent.Fields.size(); ++i) {
    const std::string separator = i == 0 ? "" : ", ";
    const std::string name = "K" + std::to_string(i + 1);
    childKeys += separator + "C." + SqlName(child.Fields[i]);
    parentKeys += separator + "P." + SqlName(parent.Fields[i]);
    names += separator + name;
    notNull += (i == 0 ? " where C." : " and C.") + SqlName(child.Fields[i]) + " is not null";
    parentNotNull +=
        (i == 0 ? " where P." : " and P.") + SqlName(parent.Fields[i]) + " is not null";
  }
  return " select " + names + " from (select " + childKeys + ", 1 from " + SqlName(child.Table) +
         " C" + notNull + " union all select " + parentKeys + ", 0 from " + SqlName(parent.Table) +
         " P" + parentNotNull + ") D (" + names + ", S) group by " + names +
         " having min(S) = 1 order by " + names;
}

bool TOrphanSearch::KeyIndexActive(const std::string& keyConstraint) {
  const auto rows = SystemRows(target_.Query(),
                               "select coalesce(i.rdb$index_inactive, 0) from rdb$indices i"
                               " where i.rdb$index_name = coalesce((select k.rdb$index_name"
                               " from rdb$relation_constraints k"
                               " where k.rdb$constraint_name = :NAME), :NAME)",
                               keyConstraint);
  return !rows.empty() && rows[0][0] == "0";
}

void TOrphanSearch::LoadParentKeys(TParentKey& parent) {
  TIBQuery& query = target_.Query();
  query.Close();
  // Order does not matter to a set: the server is spared the sort.
  query.SQL().SetText(" select   " + ColumnList(parent.Fields) + " from   " +
                      SqlName(parent.Table));
  query.Open();
  std::vector<std::string> values;
  std::string lookup;
  while (!query.AtEnd()) {
    if (ReadKey(query, values, lookup)) {
      parent.Keys.Insert(lookup);
    }
    query.Next();
  }
  query.Close();
  parent.KeysLoaded = true;
}

void TOrphanSearch::SearchChild(const TChildReference& child, std::size_t position,
                                std::size_t count, TWay way, TParentKey& parent,
                                std::vector<std::string>& missing, TKeySet& seen) {
  TOrphanLog log(context_);
  TIBQuery& query = target_.Query();
  log.ChildStart(child.Table, position, count);
  try {
    query.Close();
    query.SQL().SetText(MissingKeysSql(way, child, parent));
    if (way == TWay::Sorted) {
      try {
        query.Open();
      } catch (const std::exception&) {
        // Keys the server cannot sort as one column (types or character sets
        // that do not mix): asked the other way.
        query.Close();
        way = parent.IndexActive ? TWay::Lookup : TWay::InMemory;
        query.SQL().SetText(MissingKeysSql(way, child, parent));
      }
    }
    if (way == TWay::InMemory && !parent.KeysLoaded) {
      LoadParentKeys(parent);
      query.SQL().SetText(MissingKeysSql(way, child, parent));
    }
    if (!query.Active()) {
      query.Open();
    }
    // Keys are looked up as they arrive; only the missing ones are kept.
    std::vector<std::string> found;
    std::size_t rows = 0;
    std::vector<std::string> values;
    std::string lookup;
    while (!query.AtEnd()) {
      ++rows;
      if (ReadKey(query, values, lookup) &&
          (way != TWay::InMemory || !parent.Keys.Contains(lookup))) {
        const std::string text = KeyText(values);
        if (!text.empty()) {
          found.push_back(text);
        }
      }
      query.Next();
    }
    query.Close();
    log.ChildLoaded(rows);
    log.ChildAnalysed(rows);
    // A key already listed, from an earlier child table or an earlier row
    // whose text reads the same, is listed once.
    for (const std::string& text : found) {
      if (seen.Insert(text)) {
        missing.push_back(text);
      }
    }
  } catch (const std::exception& e) {
    try {
      query.Close();
    } catch (...) {
      // the statement is dropped with the attachment anyway
    }
    errors_.emplace_back(e.what());
  }
}

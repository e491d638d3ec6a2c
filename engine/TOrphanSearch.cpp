#include "engine/TOrphanSearch.h"

#include <exception>

#include "engine/ERunAborted.h"
#include "engine/KeyText.h"
#include "engine/SqlName.h"
#include "engine/SystemRows.h"
#include "engine/TAttachment.h"
#include "engine/TOrphanLog.h"
#include "engine/TextUtil.h"
#include "engine/ViolationLines.h"

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
  parent.InServer = KeyIndexActive(keyConstraint);
  if (!parent.InServer) {
    LoadParentKeys(parent);
  }
  log.Append("");

  TKeySet seen;
  for (std::size_t n = 0; n < children.size(); ++n) {
    SearchChild(children[n], n + 1, children.size(), parent, record->MissingKeys, seen);
  }

  const std::string label = record->KeyFields.empty() ? std::string() : record->KeyFields.back();
  log.Close(record->MissingKeys, parentTable, label);
  attachment.Detach();
  if (record->MissingKeys.empty()) {
    return nullptr;
  }
  return record;
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
}

void TOrphanSearch::SearchChild(const TChildReference& child, std::size_t position,
                                std::size_t count, const TParentKey& parent,
                                std::vector<std::string>& missing, TKeySet& seen) {
  TOrphanLog log(context_);
  TIBQuery& query = target_.Query();
  log.ChildStart(child.Table, position, count);
  try {
    query.Close();
    std::string sql =
        " select distinct   " + ColumnList(child.Fields) + " from   " + SqlName(child.Table) + " C";
    if (parent.InServer) {
      // Only the keys the parent lacks, looked up through its index.
      sql += MissingParentCondition(parent.Table, child.Fields, parent.Fields);
    }
    query.SQL().SetText(sql + " order by   1");
    query.Open();
    // Keys are looked up as they arrive; only the missing ones are kept.
    std::vector<std::string> found;
    std::size_t rows = 0;
    std::vector<std::string> values;
    std::string lookup;
    while (!query.AtEnd()) {
      ++rows;
      if (ReadKey(query, values, lookup) && (parent.InServer || !parent.Keys.Contains(lookup))) {
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
  } catch (const ERunAborted&) {
    throw;
  } catch (const std::exception& e) {
    try {
      query.Close();
    } catch (...) {
      // the statement is dropped with the attachment anyway
    }
    context_.Tell(std::string("checkInconsistencies() -> Excetion: ") + e.what(),
                  MessageKind::Error);
  }
}

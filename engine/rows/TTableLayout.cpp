#include "engine/rows/TTableLayout.h"

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/rows/KeyText.h"
#include "engine/run/TextUtil.h"

TTableLayout TTableLayout::Read(TConnection& connection, const std::string& table) {
  TIBQuery& query = connection.Query();
  TTableLayout layout;
  layout.table_ = table;
  for (const auto& row : SystemRows(query,
                                    "select rf.rdb$field_name,"
                                    " case when f.rdb$computed_blr is null then 0 else 1 end,"
                                    " coalesce(f.rdb$dimensions, 0)"
                                    " from rdb$relation_fields rf join rdb$fields f"
                                    " on f.rdb$field_name = rf.rdb$field_source"
                                    " where rf.rdb$relation_name = :NAME"
                                    " order by rf.rdb$field_position",
                                    table)) {
    if (row[1] != "0") {
      continue;  // computed: no value is stored, none may be given
    }
    (row[2] != "0" ? layout.arrayColumns_ : layout.columns_).push_back(row[0]);
  }
  for (const auto& row :
       SystemRows(query,
                  "select s.rdb$field_name from rdb$relation_constraints k"
                  " join rdb$index_segments s on s.rdb$index_name = k.rdb$index_name"
                  " where k.rdb$relation_name = :NAME"
                  " and k.rdb$constraint_type = 'PRIMARY KEY'"
                  " order by s.rdb$field_position",
                  table)) {
    layout.primaryKey_.push_back(row[0]);
  }
  for (const auto& row :
       SystemRows(query,
                  "select rc.rdb$constraint_name, s.rdb$field_name, ps.rdb$field_name,"
                  " k.rdb$relation_name"
                  " from rdb$relation_constraints rc"
                  " join rdb$ref_constraints c on c.rdb$constraint_name = rc.rdb$constraint_name"
                  " join rdb$relation_constraints k on k.rdb$constraint_name = c.rdb$const_name_uq"
                  " join rdb$index_segments s on s.rdb$index_name = rc.rdb$index_name"
                  " join rdb$index_segments ps on ps.rdb$index_name = k.rdb$index_name"
                  " and ps.rdb$field_position = s.rdb$field_position"
                  " where rc.rdb$relation_name = :NAME and rc.rdb$constraint_type = 'FOREIGN KEY'"
                  " order by rc.rdb$constraint_name, s.rdb$field_position",
                  table)) {
    if (row[3] == table) {
      auto& references = layout.selfReferences_;
      if (references.empty() || references.back().Constraint != row[0]) {
        references.push_back({row[0], {}, {}});
      }
      references.back().Columns.push_back(row[1]);
      references.back().Referenced.push_back(row[2]);
      continue;
    }
    auto& references = layout.references_;
    if (references.empty() || references.back().Constraint != row[0]) {
      references.push_back({row[0], row[3], {}, {}});
    }
    references.back().Columns.push_back(row[1]);
    references.back().Referenced.push_back(row[2]);
  }
  if (connection.Transaction().Active()) {
    connection.Transaction().Commit();
  }
  return layout;
}

std::string TTableLayout::SelectList() const {
  std::string list;
  for (std::size_t i = 0; i < CopiedCount(); ++i) {
    list += (list.empty() ? "" : ", ") + SqlName(CopiedColumn(i));
  }
  return list;
}

std::vector<std::string> TTableLayout::InsertLines() const {
  std::vector<std::string> columns;
  for (std::size_t i = 0; i < CopiedCount(); ++i) {
    columns.push_back(CopiedColumn(i));
  }
  return InsertLines(table_, columns);
}

const std::string& TTableLayout::CopiedColumn(std::size_t index) const {
  return index < columns_.size() ? columns_[index] : arrayColumns_[index - columns_.size()];
}

std::size_t TTableLayout::IndexOf(const std::string& column) const {
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (columns_[i] == column) {
      return i;
    }
  }
  return columns_.size();
}

std::vector<std::string> TTableLayout::InsertLines(const std::string& table,
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

std::string TTableLayout::MarkerName(const std::string& column, std::size_t index) {
  return ParamNameFor(column, "_" + std::to_string(index + 1));
}

std::size_t TTableLayout::ReadRow(const TIBQuery& select, std::vector<TValue>& values) const {
  const std::size_t fields = static_cast<std::size_t>(select.FieldCount());
  values.resize(fields + arrayColumns_.size());
  for (std::size_t i = 0; i < fields; ++i) {
    const TField& field = select.Fields(static_cast<int>(i));
    values[i] = field.IsNull() ? TValue() : field.Value();
  }
  std::size_t unreadable = 0;
  for (std::size_t i = 0; i < arrayColumns_.size(); ++i) {
    try {
      values[fields + i] = select.ArrayNamed(arrayColumns_[i]);
    } catch (const std::exception&) {
      values[fields + i] = TValue();
      ++unreadable;
    }
  }
  return unreadable;
}

std::string TTableLayout::UnreadableArraysText(std::size_t count, const std::string& where) {
  return std::to_string(count) + " coluna(s) matriz ilegível(is) " + where +
         "; as linhas foram copiadas com a matriz vazia (NULL).";
}

std::vector<TFieldType> TTableLayout::FieldTypes(const TIBQuery& select) {
  std::vector<TFieldType> types;
  for (int i = 0; i < select.FieldCount(); ++i) {
    types.push_back(select.Fields(i).DataType());
  }
  return types;
}

void TTableLayout::BindRow(TIBQuery& insert, const std::vector<TFieldType>& types,
                           const std::vector<TValue>& values) const {
  for (std::size_t i = 0; i < CopiedCount(); ++i) {
    TParam& param = insert.ParamNamed(MarkerName(CopiedColumn(i), i));
    param.SetDataType(i < columns_.size() ? types[i] : TFieldType::Bytes);  // arrays: whole
    param.SetValue(values[i]);
  }
}

std::string TTableLayout::KeyOf(const std::vector<TValue>& values,
                                const std::vector<std::size_t>& positions) {
  std::string key;
  for (const std::size_t position : positions) {
    const TValue& value = values.at(position);
    if (value.IsNull()) {
      return std::string();
    }
    std::string text = value.AsString();
    if (value.Kind() == TValueKind::Text) {
      text.resize(WithoutTrailingBlanks(text).size());
    }
    AppendLookupValue(key, text, true);
  }
  return key;
}

std::vector<TTableLayout::TLinks> TTableLayout::LinksOf(
    const std::vector<std::vector<TValue>>& rows) const {
  std::vector<TLinks> all;
  for (const TSelfReference& reference : selfReferences_) {
    std::vector<std::size_t> columns;
    std::vector<std::size_t> referenced;
    for (std::size_t i = 0; i < reference.Columns.size(); ++i) {
      columns.push_back(IndexOf(reference.Columns[i]));
      referenced.push_back(IndexOf(reference.Referenced[i]));
    }
    TLinks links;
    for (const auto& row : rows) {
      links.Keys.push_back(KeyOf(row, referenced));
      links.Parents.push_back(KeyOf(row, columns));
    }
    all.push_back(std::move(links));
  }
  return all;
}

std::vector<std::size_t> TTableLayout::ParentsFirst(std::size_t rows,
                                                    const std::vector<TLinks>& links) {
  std::vector<std::vector<std::size_t>> children(rows);
  std::vector<std::size_t> waiting(rows, 0);  // parents in the set not yet placed
  for (const TLinks& link : links) {
    std::unordered_map<std::string, std::size_t> byKey;
    for (std::size_t i = 0; i < rows; ++i) {
      if (!link.Keys[i].empty()) {
        byKey.emplace(link.Keys[i], i);
      }
    }
    for (std::size_t i = 0; i < rows; ++i) {
      if (link.Parents[i].empty()) {
        continue;
      }
      const auto parent = byKey.find(link.Parents[i]);
      if (parent != byKey.end() && parent->second != i) {
        children[parent->second].push_back(i);
        ++waiting[i];
      }
    }
  }
  std::vector<std::size_t> order;
  order.reserve(rows);
  std::deque<std::size_t> ready;
  for (std::size_t i = 0; i < rows; ++i) {
    if (waiting[i] == 0) {
      ready.push_back(i);
    }
  }
  std::vector<bool> placed(rows, false);
  while (!ready.empty()) {
    const std::size_t row = ready.front();
    ready.pop_front();
    order.push_back(row);
    placed[row] = true;
    for (const std::size_t child : children[row]) {
      if (--waiting[child] == 0) {
        ready.push_back(child);
      }
    }
  }
  for (std::size_t i = 0; i < rows; ++i) {
    if (!placed[i]) {
      order.push_back(i);  // part of a cycle: no order satisfies it
    }
  }
  return order;
}

std::string TTableLayout::RowText(const std::vector<TValue>& values, std::size_t count) {
  std::string text;
  for (std::size_t i = 0; i < count && i < values.size(); ++i) {
    const TValue& value = values[i];
    if (value.IsNull()) {
      text += '\x01';
    } else {
      text += '\x02';
      AppendLookupValue(text, value.AsString(), true);
    }
  }
  return text;
}

std::string TTableLayout::KeyText(const std::vector<TValue>& values) const {
  std::vector<std::size_t> positions;
  for (const std::string& column : primaryKey_) {
    positions.push_back(IndexOf(column));
  }
  if (positions.empty() || std::any_of(positions.begin(), positions.end(),
                                       [&](std::size_t at) { return at == columns_.size(); })) {
    positions.clear();
    for (std::size_t i = 0; i < columns_.size(); ++i) {
      positions.push_back(i);
    }
  }
  std::string text;
  for (const std::size_t at : positions) {
    if (at < values.size()) {
      text += (text.empty() ? "" : ", ") + KeyPart(columns_[at], values[at]);
    }
  }
  return text;
}

std::string TTableLayout::KeyPart(const std::string& column, const TValue& value) {
  return column + "=" + (value.IsNull() ? std::string("NULL") : value.AsString());
}

std::vector<std::string> TTableLayout::ParentTables() const {
  std::vector<std::string> parents;
  for (const TReference& reference : references_) {
    parents.push_back(reference.Table);
  }
  return parents;
}

std::vector<TTableLayout::TReference> TTableLayout::ForeignKeys() const {
  std::vector<TReference> keys = references_;
  for (const TSelfReference& self : selfReferences_) {
    keys.push_back({self.Constraint, table_, self.Columns, self.Referenced});
  }
  return keys;
}

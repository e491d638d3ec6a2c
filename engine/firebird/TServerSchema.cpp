#include "engine/firebird/TServerSchema.h"

#include <cstdint>
#include <map>
#include <string>

#include "fbaccess/TValue.h"

namespace {

std::uint16_t Number(const TField& field) {
  return static_cast<std::uint16_t>(std::stoul(field.AsString()));
}

}  // namespace

TSchema TServerSchema::Read(TConnection& connection) {
  TIBQuery& query = connection.Query();
  query.Close();
  TSchema schema;
  std::map<std::string, std::uint16_t> idByName;
  query.SQL().SetText(
      " select rdb$relation_id, trim(rdb$relation_name) from rdb$relations"
      " where coalesce(rdb$system_flag, 0) = 0 and rdb$view_blr is null"
      " and rdb$external_file is null and coalesce(rdb$relation_type, 0) = 0");
  for (query.Open(); !query.AtEnd(); query.Next()) {
    TSchemaTable table;
    table.relationId = Number(query.Fields(0));
    table.name = query.Fields(1).AsString();
    idByName[table.name] = table.relationId;
    schema.tables[table.relationId] = std::move(table);
  }
  query.Close();

  // In the order select * gives them: by position, a missing one last.
  query.SQL().SetText(
      " select trim(f.rdb$relation_name), trim(f.rdb$field_name), f.rdb$field_id,"
      " iif(s.rdb$computed_blr is null, 0, 1) from rdb$relation_fields f"
      " join rdb$fields s on s.rdb$field_name = f.rdb$field_source"
      " order by f.rdb$relation_name, coalesce(f.rdb$field_position, 32767), f.rdb$field_id");
  for (query.Open(); !query.AtEnd(); query.Next()) {
    const auto table = idByName.find(query.Fields(0).AsString());
    if (table == idByName.end() || query.Fields(2).IsNull()) {
      continue;
    }
    TSchemaColumn column;
    column.name = query.Fields(1).AsString();
    column.fieldId = Number(query.Fields(2));
    column.computed = query.Fields(3).AsString() == "1";
    schema.tables[table->second].columns.push_back(std::move(column));
  }
  query.Close();

  query.SQL().SetText(" select rdb$relation_id, rdb$format, rdb$descriptor from rdb$formats");
  for (query.Open(); !query.AtEnd(); query.Next()) {
    const auto table = schema.tables.find(Number(query.Fields(0)));
    if (table == schema.tables.end() || query.Fields(2).IsNull()) {
      continue;
    }
    const TBytes bytes = query.Fields(2).Value().AsBytes();
    auto format = TRecordFormat::FromDescriptorBlob(ods::TBytesView(bytes.data(), bytes.size()));
    if (format) {
      table->second.formats[Number(query.Fields(1))] = std::move(*format);
    }
  }
  query.Close();

  query.SQL().SetText(
      " select trim(c.rdb$relation_name), trim(s.rdb$field_name)"
      " from rdb$relation_constraints c"
      " join rdb$index_segments s on s.rdb$index_name = c.rdb$index_name"
      " where c.rdb$constraint_type = 'PRIMARY KEY'"
      " order by c.rdb$relation_name, s.rdb$field_position");
  for (query.Open(); !query.AtEnd(); query.Next()) {
    const auto table = idByName.find(query.Fields(0).AsString());
    if (table != idByName.end()) {
      schema.tables[table->second].primaryKey.push_back(query.Fields(1).AsString());
    }
  }
  query.Close();
  if (connection.Transaction().Active()) {
    connection.Transaction().Commit();
  }
  return schema;
}

#include "engine/firebird/SystemRows.h"

#include "engine/run/TextUtil.h"
#include "fbaccess/TValue.h"

std::vector<std::vector<std::string>> SystemRows(TIBQuery& query, const std::string& sql,
                                                 const std::string& name) {
  query.Close();
  query.SQL().SetText(sql);
  query.ParamNamed("NAME").SetValue(TValue(name));
  query.Open();
  std::vector<std::vector<std::string>> rows;
  while (!query.AtEnd()) {
    std::vector<std::string> row;
    for (int i = 0; i < query.FieldCount(); ++i) {
      row.push_back(TrimText(query.Fields(i).AsString()));
    }
    rows.push_back(std::move(row));
    query.Next();
  }
  query.Close();
  return rows;
}

std::vector<std::string> UserTables(TIBQuery& query) {
  query.Close();
  query.SQL().SetText(
      " select trim(rdb$relation_name) from rdb$relations where coalesce(rdb$system_flag, 0) = 0"
      " and rdb$view_blr is null and coalesce(rdb$relation_type, 0) = 0 order by rdb$relation_id");
  query.Open();
  std::vector<std::string> tables;
  while (!query.AtEnd()) {
    tables.push_back(query.Fields(0).AsString());
    query.Next();
  }
  query.Close();
  return tables;
}

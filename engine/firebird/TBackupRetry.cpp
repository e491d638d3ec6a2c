#include "engine/firebird/TBackupRetry.h"

#include <algorithm>
#include <string_view>

#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TServerDialect.h"
#include "engine/run/TextUtil.h"

TBackupRetry::TStop TBackupRetry::FindStop(const std::vector<std::string>& lines) {
  TStop stop;
  std::string table;  // the table of the last data line, while only progress followed
  for (const std::string& line : lines) {
    bool error = false;
    const std::string_view body = TServerDialect::BackupLineBody(line, error);
    if (body.empty()) {
      continue;
    }
    if (error) {
      if (stop.Table.empty() && stop.PointerPage == 0) {
        stop.Table = table;
      }
      if (stop.PointerPage == 0) {
        stop.PointerPage = TServerDialect::WrongTypePointerPage(body);
      }
      continue;
    }
    if (const std::optional<std::string> data = TServerDialect::BackupDataTable(body)) {
      table = *data;
    } else if (!TServerDialect::IsBackupProgress(body)) {
      table.clear();  // the table's rows were all written; something else followed
    }
  }
  // A pointer page names the failing table more surely than the last data
  // line: that one's count may be its final one.
  if (stop.PointerPage != 0) {
    stop.Table.clear();
  }
  return stop;
}

std::string TBackupRetry::TableOfPointerPage(TConnection& connection, std::uint32_t page) {
  TAttachment attachment(connection);
  TIBQuery& query = connection.Query();
  query.Close();
  query.SQL().SetText(
      "select r.rdb$relation_name from rdb$pages p join rdb$relations r"
      " on r.rdb$relation_id = p.rdb$relation_id"
      " where p.rdb$page_type = 4 and p.rdb$page_number = :PAGE"
      " and coalesce(r.rdb$system_flag, 0) = 0");
  query.ParamNamed("PAGE").SetValue(TValue(static_cast<long long>(page)));
  query.Open();
  std::string table = query.AtEnd() ? std::string() : TrimText(query.Fields(0).AsString());
  query.Close();
  if (connection.Transaction().Active()) {
    connection.Transaction().Commit();
  }
  attachment.Detach();
  return table;
}

bool TBackupRetry::Skip(const std::string& table) {
  if (table.empty() || skipped_.size() >= maxSkipped_ ||
      std::find(skipped_.begin(), skipped_.end(), table) != skipped_.end()) {
    return false;
  }
  skipped_.push_back(table);
  return true;
}

#include "engine/TBackupRetry.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "engine/TAttachment.h"
#include "engine/TextUtil.h"

namespace {

constexpr std::string_view kDataLine = "writing data for table ";
constexpr std::string_view kRecordsWritten = " records written";
constexpr std::string_view kError = "ERROR:";
constexpr std::string_view kPointerPage = " is of wrong type (expected pointer";

// The line without the "gbak:" the service puts in front of each output
// line; `error` tells whether it reports the failure: "gbak: ERROR:" lines
// of the output, and lines without "gbak:" (the error the service raised,
// as the access layer throws it, appended by the caller).
std::string_view Body(std::string_view line, bool& error) {
  constexpr std::string_view prefix = "gbak:";
  error = !line.starts_with(prefix);
  if (!error) {
    line.remove_prefix(prefix.size());
  }
  while (!line.empty() && static_cast<unsigned char>(line.front()) <= ' ') {
    line.remove_prefix(1);
  }
  if (line.starts_with(kError)) {
    error = true;
  }
  return line;
}

bool IsProgressLine(std::string_view body) {
  while (!body.empty() && body.back() == ' ') {
    body.remove_suffix(1);
  }
  const std::size_t digits = body.find_first_not_of("0123456789");
  return digits > 0 && digits != std::string_view::npos && body.substr(digits) == kRecordsWritten;
}

// The page number of "page N is of wrong type (expected pointer", 0 if none.
std::uint32_t PointerPageIn(std::string_view body) {
  const std::size_t at = body.find(kPointerPage);
  if (at == std::string_view::npos) {
    return 0;
  }
  const std::size_t start = body.rfind("page ", at);
  if (start == std::string_view::npos) {
    return 0;
  }
  std::uint32_t page = 0;
  const char* first = body.data() + start + 5;
  const char* last = body.data() + at;
  const auto [end, error] = std::from_chars(first, last, page);
  return error == std::errc() && end == last ? page : 0;
}

}  // namespace

TBackupRetry::TStop TBackupRetry::FindStop(const std::vector<std::string>& lines) {
  TStop stop;
  std::string table;  // the table of the last data line, while only progress followed
  for (const std::string& line : lines) {
    bool error = false;
    const std::string_view body = Body(line, error);
    if (body.empty()) {
      continue;
    }
    if (error) {
      if (stop.Table.empty() && stop.PointerPage == 0) {
        stop.Table = table;
      }
      if (stop.PointerPage == 0) {
        stop.PointerPage = PointerPageIn(body);
      }
      continue;
    }
    if (body.starts_with(kDataLine)) {
      // The name as written, without the blank the service adds at the end.
      std::string_view name = body.substr(kDataLine.size());
      if (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
      }
      table = std::string(name);
    } else if (!IsProgressLine(body)) {
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

std::string TBackupRetry::SkipDataPattern(const std::vector<std::string>& tables) {
  // Escaping any other character is refused by the server ("Error while
  // compiling regular expression").
  constexpr std::string_view special = "[](){}^-+*?\\|%_";
  std::string pattern;
  for (const std::string& table : tables) {
    if (!pattern.empty()) {
      pattern += '|';
    }
    for (const char c : table) {
      if (special.find(c) != std::string_view::npos) {
        pattern += '\\';
      }
      pattern += c;
    }
  }
  return pattern;
}

#include "support/FixtureDatabase.h"

#include <sstream>
#include <stdexcept>
#include <utility>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "support/ServerTools.h"

namespace testsupport {

namespace {

std::string Terminated(const std::string& sql) {
  const size_t last = sql.find_last_not_of(" \t\r\n");
  if (last != std::string::npos && sql[last] == ';') {
    return sql + "\n";
  }
  return sql + ";\n";
}

void Check(const ToolResult& result, const std::string& what) {
  if (!result.Ok()) {
    throw std::runtime_error(what + " failed (exit " + std::to_string(result.exitCode) + "):\n" +
                             result.output);
  }
}

std::string TrimRight(const std::string& text) {
  const size_t last = text.find_last_not_of(" \t\r");
  return last == std::string::npos ? std::string() : text.substr(0, last + 1);
}

}  // namespace

FixtureDatabase::FixtureDatabase(std::string path) : path_(std::move(path)) {}

FixtureDatabase FixtureDatabase::Create(const std::string& path, const std::string& script) {
  std::string sql = "set sql dialect 3;\ncreate database 'localhost:" + path + "' user '" +
                    ServerTools::kUser + "' password '" + ServerTools::kPassword +
                    "' page_size 4096;\n" + Terminated(script) + "commit;\n";
  Check(ServerTools::IsqlScript(sql), "creating " + path);
  return FixtureDatabase(path);
}

void FixtureDatabase::Execute(const std::string& sql) const {
  Check(ServerTools::Isql(path_, Terminated(sql) + "commit;\n"), "isql on " + path_);
}

std::vector<FixtureDatabase::Row> FixtureDatabase::Query(const std::string& select) const {
  const ToolResult result = ServerTools::Isql(path_, "set list on;\n" + Terminated(select));
  Check(result, "query on " + path_);
  return ParseListOutput(result.out);
}

std::vector<FixtureDatabase::Row> FixtureDatabase::ParseListOutput(const std::string& output) {
  // Records are blocks of "NAME<blanks>value" lines separated by empty lines.
  std::vector<Row> rows;
  Row current;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    line = TrimRight(line);
    if (line.empty()) {
      if (!current.empty()) {
        rows.push_back(std::move(current));
        current.clear();
      }
      continue;
    }
    const size_t nameEnd = line.find_first_of(" \t");
    if (nameEnd == std::string::npos) {
      current[line] = "";
      continue;
    }
    const size_t valueStart = line.find_first_not_of(" \t", nameEnd);
    current[line.substr(0, nameEnd)] = line.substr(valueStart);
  }
  if (!current.empty()) {
    rows.push_back(std::move(current));
  }
  return rows;
}

std::vector<std::string> FixtureDatabase::Column(const std::string& select) const {
  // The column order is lost in a Row, so one-column selects only.
  std::vector<std::string> values;
  for (const Row& row : Query(select)) {
    if (row.size() != 1) {
      throw std::runtime_error("Column() needs a one-column select: " + select);
    }
    values.push_back(row.begin()->second);
  }
  return values;
}

std::string FixtureDatabase::Value(const std::string& select) const {
  const std::vector<std::string> values = Column(select);
  if (values.size() != 1) {
    throw std::runtime_error("Value() got " + std::to_string(values.size()) +
                             " rows from: " + select);
  }
  return values.front();
}

std::string FixtureDatabase::FillScript(const std::string& insert, int rows) {
  return "set term ^;\nexecute block as declare i integer = 0; begin\n  while (i < " +
         std::to_string(rows) + ") do begin\n    " + insert +
         "; i = i + 1; end\nend^\nset term ;^\ncommit;\n";
}

long long FixtureDatabase::Count(const std::string& table) const {
  return std::stoll(Value("select count(*) as N from " + table));
}

void FixtureDatabase::WriteArrays(const std::string& statement,
                                  const std::vector<std::pair<TValue, TBytes>>& rows) const {
  TIBDatabase database;
  TIBTransaction transaction;
  database.SetDefaultTransaction(&transaction);
  transaction.SetDefaultDatabase(&database);
  database.AddParam(std::string("user_name=") + ServerTools::kUser);
  database.AddParam(std::string("password=") + ServerTools::kPassword);
  database.SetLoginPrompt(false);
  database.SetDatabaseName("localhost:" + path_);
  database.Open();
  TIBQuery query;
  query.SetDatabase(&database);
  query.SQL().SetText(statement);
  for (const auto& [key, array] : rows) {
    query.ParamNamed("K").SetValue(key);
    query.ParamNamed("A").SetValue(array);
    query.ExecQuery();
  }
  transaction.Commit();
}

}  // namespace testsupport

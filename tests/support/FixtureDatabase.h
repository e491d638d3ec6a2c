#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "fbaccess/TValue.h"

namespace testsupport {

// A database file driven through the server with isql-fb. Every failure
// throws std::runtime_error carrying the tool's output, so a test that uses
// a fixture wrongly stops with the server's own message.
class FixtureDatabase {
 public:
  // One result row: column name (as isql shows it, upper case unless quoted)
  // to value text. NULL reads as "<null>"; trailing blanks are removed.
  using Row = std::map<std::string, std::string>;

  // Refers to an existing database file; nothing is opened.
  explicit FixtureDatabase(std::string path);

  // Creates the database (page size 4096, dialect 3) and runs `script` in it
  // (committed at the end). Replaces nothing: the file must not exist.
  static FixtureDatabase Create(const std::string& path, const std::string& script);

  // An isql script that runs `insert` (which may use :i, counting from 0)
  // `rows` times in one execute block, and commits.
  static std::string FillScript(const std::string& insert, int rows);

  const std::string& Path() const { return path_; }

  // Runs statements (";"-terminated) and commits.
  void Execute(const std::string& sql) const;
  // Runs one SELECT and returns its rows. Values holding line breaks (blobs)
  // are not supported; leading blanks of a value are lost.
  std::vector<Row> Query(const std::string& select) const;
  // The first column of every row of a one-column SELECT.
  std::vector<std::string> Column(const std::string& select) const;
  // The single value of a SELECT returning one row and one column.
  std::string Value(const std::string& select) const;
  // select count(*) from `table`.
  long long Count(const std::string& table) const;
  // SQL gives no array a value: runs `statement`, with the parameters :K (a
  // key) and :A (an array's whole content, in the client's slice layout),
  // once per row through the access layer, and commits.
  void WriteArrays(const std::string& statement,
                   const std::vector<std::pair<TValue, TBytes>>& rows) const;

  // Parses isql-fb "set list on" output into rows (exposed for its own test).
  static std::vector<Row> ParseListOutput(const std::string& output);

 private:
  std::string path_;
};

}  // namespace testsupport

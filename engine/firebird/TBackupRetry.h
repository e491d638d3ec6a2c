#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/firebird/TServerDialect.h"

// What a backup that failed while reading a table's rows tells, and the
// tables left out of the next attempt. The run backs up again with the rows
// of those tables skipped until the backup completes or the bound is reached;
// the restored database then holds them empty, to be filled row by row.
//
// Two failures are recognised in the backup's output (measured on Firebird
// 3.0.11): a table's pointer page destroyed fails the request that reads the
// table, before any line names it ("page N is of wrong type (expected
// pointer, ..."), so the page number must be looked up; a data page that
// cannot be read fails after "writing data for table X" and, for big tables,
// progress lines "N records written".
class TBackupRetry {
 public:
  // Where the backup stopped. Table is set when the output names it; else
  // PointerPage is set when the error names a pointer page; else neither.
  struct TStop {
    std::string Table;
    std::uint32_t PointerPage = 0;
  };

  explicit TBackupRetry(std::size_t maxSkipped = 8) : maxSkipped_(maxSkipped) {}

  // Reads the output lines of a failed backup, followed by the lines of the
  // error the service raised, if any (the access layer throws the server's
  // failure instead of giving it as "gbak: ERROR:" lines).
  static TStop FindStop(const std::vector<std::string>& lines);

  // The user table whose pointer page is `page` ("" when none), read from
  // the system tables of the database `connection` is attached to.
  static std::string TableOfPointerPage(TConnection& connection, std::uint32_t page);

  // Adds a table to leave out next time. False when it is left out already
  // (the backup failed on it anyway: skipping more will not help) or when the
  // bound is reached.
  bool Skip(const std::string& table);
  const std::vector<std::string>& Skipped() const { return skipped_; }
  // The pattern for the backup's skip-data option; "" when nothing is skipped.
  std::string Pattern() const { return TServerDialect::SkipDataExpression(skipped_); }

 private:
  std::size_t maxSkipped_;
  std::vector<std::string> skipped_;
};

#pragma once

#include <string>
#include <vector>

#include "support/ToolRunner.h"

namespace testsupport {

// The Firebird utilities, always talking to the running server through
// "localhost:" as sysdba. Database and backup paths are plain file paths;
// the prefixes are added here. Each call returns the tool's result as is;
// callers decide what a failure means.
class ServerTools {
 public:
  static const char* const kUser;
  static const char* const kPassword;

  // isql-fb -bail -q on "localhost:" + database, the SQL fed on stdin.
  static ToolResult Isql(const std::string& database, const std::string& sql);
  // isql-fb -bail -q without a database (for scripts that CREATE DATABASE).
  static ToolResult IsqlScript(const std::string& sql);

  // gbak -b -v -ig -nt through the service manager: the backup the repair makes.
  static ToolResult Backup(const std::string& database, const std::string& backupFile);
  // gbak -c -v -rep -o -bu 3000 -p 4096 through the service manager: the
  // repair's restore (replaces an existing file, one table at a time).
  static ToolResult Restore(const std::string& backupFile, const std::string& database);

  // fbsvcmgr action_repair rpr_validate_db rpr_full: the full (offline)
  // validation. Firebird 3 reports found errors as the error status, i.e. in
  // `err` with a non-zero exit code.
  static ToolResult Validate(const std::string& database);
  // fbsvcmgr action_repair rpr_mend_db.
  static ToolResult Mend(const std::string& database);
  // fbsvcmgr action_properties prp_db_online: ends single-user maintenance
  // (as left by a restore whose indices could not be activated).
  static ToolResult BringOnline(const std::string& database);
  // gfix with the given switches on "localhost:" + database.
  static ToolResult Gfix(const std::string& database, const std::vector<std::string>& switches);
  // fbsvcmgr localhost:service_mgr with the given arguments.
  static ToolResult Fbsvcmgr(const std::vector<std::string>& arguments);

  // Waits until the server process holds no open file descriptor on the file
  // (the SuperServer closes a database when its last attachment ends). Returns
  // false when it still holds it after `timeoutMs`.
  static bool WaitUntilReleased(const std::string& path, int timeoutMs = 5000);
  // True while the server process has the file open.
  static bool ServerHoldsFile(const std::string& path);
};

}  // namespace testsupport

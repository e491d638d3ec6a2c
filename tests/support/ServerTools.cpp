#include "support/ServerTools.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testsupport {

namespace {

const char* const kServerPidFile = "/run/firebird3.0/firebird.pid";

std::string Remote(const std::string& path) {
  return "localhost:" + path;
}

std::vector<std::string> IsqlArguments() {
  return {
      "isql-fb", "-bail", "-q", "-user", ServerTools::kUser, "-password", ServerTools::kPassword};
}

std::vector<std::string> GbakArguments() {
  return {"gbak",
          "-user",
          ServerTools::kUser,
          "-password",
          ServerTools::kPassword,
          "-se",
          "localhost:service_mgr"};
}

}  // namespace

const char* const ServerTools::kUser = "sysdba";
const char* const ServerTools::kPassword = "lumenrock";

ToolResult ServerTools::Isql(const std::string& database, const std::string& sql) {
  std::vector<std::string> args = IsqlArguments();
  args.push_back(Remote(database));
  return ToolRunner::Run(args, sql);
}

ToolResult ServerTools::IsqlScript(const std::string& sql) {
  return ToolRunner::Run(IsqlArguments(), sql);
}

ToolResult ServerTools::Backup(const std::string& database, const std::string& backupFile) {
  std::vector<std::string> args = GbakArguments();
  args.insert(args.end(), {"-b", "-v", "-ig", "-nt", database, backupFile});
  return ToolRunner::Run(args);
}

ToolResult ServerTools::Restore(const std::string& backupFile, const std::string& database) {
  std::vector<std::string> args = GbakArguments();
  args.insert(args.end(),
              {"-c", "-v", "-rep", "-o", "-bu", "3000", "-p", "4096", backupFile, database});
  return ToolRunner::Run(args);
}

ToolResult ServerTools::Validate(const std::string& database) {
  return Fbsvcmgr({"action_repair", "dbname", database, "rpr_validate_db", "rpr_full"});
}

ToolResult ServerTools::Mend(const std::string& database) {
  return Fbsvcmgr({"action_repair", "dbname", database, "rpr_mend_db"});
}

ToolResult ServerTools::BringOnline(const std::string& database) {
  return Fbsvcmgr({"action_properties", "dbname", database, "prp_db_online"});
}

ToolResult ServerTools::Gfix(const std::string& database,
                             const std::vector<std::string>& switches) {
  std::vector<std::string> args{"gfix", "-user", kUser, "-password", kPassword};
  args.insert(args.end(), switches.begin(), switches.end());
  args.push_back(Remote(database));
  return ToolRunner::Run(args);
}

ToolResult ServerTools::Fbsvcmgr(const std::vector<std::string>& arguments) {
  std::vector<std::string> args{"fbsvcmgr", "localhost:service_mgr", "-user", kUser, "-password",
                                kPassword};
  args.insert(args.end(), arguments.begin(), arguments.end());
  return ToolRunner::Run(args);
}

bool ServerTools::ServerHoldsFile(const std::string& path) {
  std::ifstream pidFile(kServerPidFile);
  std::string pid;
  if (!(pidFile >> pid)) {
    return false;
  }
  std::error_code error;
  const std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/fd", error)) {
    std::error_code linkError;
    if (std::filesystem::read_symlink(entry.path(), linkError) == target) {
      return true;
    }
  }
  return false;
}

bool ServerTools::WaitUntilReleased(const std::string& path, int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (ServerHoldsFile(path)) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

}  // namespace testsupport

#include "support/ServerLeftovers.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace testsupport {

namespace {

const char* const kServerPidFile = "/run/firebird3.0/firebird.pid";
// The server's port as /proc/net/tcp writes it (hexadecimal).
const char* const kServerPort = "0BEA";
const char* const kEstablished = "01";

// The socket inodes of this process's open descriptors.
std::set<std::string> OwnSocketInodes() {
  std::set<std::string> inodes;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    const std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
    if (target.starts_with("socket:[")) {
      inodes.insert(target.substr(8, target.size() - 9));
    }
  }
  return inodes;
}

}  // namespace

std::vector<std::string> ServerLeftovers::FilesHeldUnder(const std::string& folder) {
  std::vector<std::string> held;
  std::ifstream pidFile(kServerPidFile);
  std::string pid;
  if (!(pidFile >> pid)) {
    return held;
  }
  std::error_code error;
  const std::string prefix = std::filesystem::weakly_canonical(folder, error).string() + "/";
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + pid + "/fd", error)) {
    std::error_code linkError;
    const std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
    if (target.starts_with(prefix)) {
      held.push_back(target);
    }
  }
  return held;
}

std::vector<std::string> ServerLeftovers::WaitUntilNoneHeldUnder(const std::string& folder,
                                                                 int timeoutMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    std::vector<std::string> held = FilesHeldUnder(folder);
    if (held.empty() || std::chrono::steady_clock::now() >= deadline) {
      return held;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

int ServerLeftovers::ConnectionsOfThisProcess() {
  const std::set<std::string> own = OwnSocketInodes();
  int count = 0;
  for (const char* table : {"/proc/self/net/tcp", "/proc/self/net/tcp6"}) {
    std::ifstream file(table);
    std::string line;
    std::getline(file, line);  // the column titles
    while (std::getline(file, line)) {
      // sl local_address rem_address st tx:rx tr:when retrnsmt uid timeout inode
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >>
          timeout >> inode;
      if (state == kEstablished && remote.ends_with(std::string(":") + kServerPort) &&
          own.contains(inode)) {
        ++count;
      }
    }
  }
  return count;
}

}  // namespace testsupport

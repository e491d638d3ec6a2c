#include "support/TestFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <vector>

namespace testsupport {

TestFolder::TestFolder(const std::string& prefix) {
  std::string pattern = "/tmp/" + prefix + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  }
  path_ = buffer.data();
  // mkdtemp makes the folder 0700; the server only needs it as its owner, but
  // other users (and tools run as them) may look in it.
  chmod(path_.c_str(), 0755);
  GiveToServer(path_);
}

TestFolder::~TestFolder() {
  if (std::getenv("TESSARINE_KEEP_TEST_FOLDERS") != nullptr) {
    std::cerr << "[testsupport] keeping test folder " << path_ << "\n";
    return;
  }
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TestFolder::File(const std::string& name) const {
  return path_ + "/" + name;
}

void TestFolder::GiveToServer(const std::string& path) {
  const passwd* user = getpwnam("firebird");
  if (user == nullptr) {
    throw std::runtime_error("no user firebird on this machine");
  }
  if (chown(path.c_str(), user->pw_uid, user->pw_gid) != 0) {
    throw std::runtime_error("chown " + path + ": " + std::strerror(errno));
  }
}

}  // namespace testsupport

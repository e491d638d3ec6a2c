#include "engine/TRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace {

// The database's real path: a link and the file it points to are one database.
std::string RealPath(const std::string& path) {
  std::error_code error;
  const std::filesystem::path real = std::filesystem::canonical(path, error);
  return error ? path : real.string();
}

}  // namespace

TRunLock::TRunLock(const std::string& databasePath) {
  char name[64];
  std::snprintf(name, sizeof name, "/tmp/tessarine-%016zx.lock",
                std::hash<std::string>{}(RealPath(databasePath)));
  path_ = name;
  fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  // Without the lock file (a /tmp that cannot be written) nothing tells two
  // runs apart: the run goes on, as it did before there was a lock.
  held_ = fd_ < 0 || ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

TRunLock::~TRunLock() {
  if (fd_ >= 0) {
    ::close(fd_);  // releases the lock; the file stays for the next run
  }
}

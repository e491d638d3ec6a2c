#include "engine/run/TRunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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
  // The run that held the lock removes the file as it lets go: a lock taken
  // on a file that has lost its name meanwhile is no lock, so try again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
      break;
    }
    if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      ::close(fd_);
      fd_ = -1;
      return;  // another run holds the database
    }
    struct stat locked {};
    struct stat named {};
    if (::fstat(fd_, &locked) == 0 && ::stat(path_.c_str(), &named) == 0 &&
        locked.st_dev == named.st_dev && locked.st_ino == named.st_ino) {
      held_ = true;
      return;
    }
    ::close(fd_);
    fd_ = -1;
  }
  // Without a lock file (a /tmp that cannot be written) nothing tells two
  // runs apart: the run goes on, as it did before there was a lock.
  held_ = true;
}

TRunLock::~TRunLock() {
  if (fd_ >= 0) {
    ::unlink(path_.c_str());  // still locked: no other run holds this name
    ::close(fd_);
  }
}

#include "engine/files/TFileOwner.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

TFileOwner::TFileOwner(const std::string& database) {
  known_ = ::stat(database.c_str(), &database_) == 0;
}

std::string TFileOwner::Give(const std::string& path, bool databaseFile) const {
  if (!known_) {
    return {};
  }
  struct stat now {};
  if (::lstat(path.c_str(), &now) != 0 || !S_ISREG(now.st_mode)) {
    return {};  // gone, or not a plain file this run made
  }
  std::string problem;
  if ((now.st_uid != database_.st_uid || now.st_gid != database_.st_gid) &&
      ::lchown(path.c_str(), database_.st_uid, database_.st_gid) != 0 && errno != EPERM) {
    problem = std::strerror(errno);
  }
  if (databaseFile && (now.st_mode & 07777) != (database_.st_mode & 07777) &&
      ::chmod(path.c_str(), database_.st_mode & 07777) != 0) {
    problem = std::strerror(errno);
  }
  return problem;
}

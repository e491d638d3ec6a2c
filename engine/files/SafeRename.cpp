#include "engine/files/SafeRename.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstdio>

#include "engine/files/DerivedNames.h"

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  const int error = errno;
  if (error != EINVAL && error != ENOSYS) {
    return error;
  }
  // The file system cannot refuse to replace on its own: check first.
  if (!PathIsFree(to)) {
    return EEXIST;
  }
  return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

#include "engine/files/TTemporaryFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <utility>

TTemporaryFile::TTemporaryFile(std::string pattern) : path_(std::move(pattern)) {
  fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
  made_ = fd_ >= 0;
}

TTemporaryFile::~TTemporaryFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
  if (made_ && !kept_) {
    ::unlink(path_.c_str());
  }
}

bool TTemporaryFile::Close() {
  const int fd = std::exchange(fd_, -1);
  return fd >= 0 && ::close(fd) == 0;
}

int TTemporaryFile::Keep() {
  kept_ = true;
  return std::exchange(fd_, -1);
}

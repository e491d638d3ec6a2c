#include "engine/files/TReadOnlyFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

TReadOnlyFile::TReadOnlyFile(const std::string& path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}

TReadOnlyFile::~TReadOnlyFile() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

ssize_t TReadOnlyFile::ReadAt(std::vector<unsigned char>& bytes, std::uint64_t offset) const {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t got =
        ::pread(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (got == 0) {
      break;
    }
    done += static_cast<std::size_t>(got);
  }
  return static_cast<ssize_t>(done);
}

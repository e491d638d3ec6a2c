#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

// A file opened for reading only, closed when it goes away: nothing that
// only reads a file the operator gave may hold it open for writing.
class TReadOnlyFile {
 public:
  explicit TReadOnlyFile(const std::string& path);
  ~TReadOnlyFile();
  TReadOnlyFile(const TReadOnlyFile&) = delete;
  TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

  // The descriptor; negative when the file could not be opened (errno
  // tells why).
  int Get() const { return fd_; }
  // Reads up to bytes.size() bytes at `offset`; the count read, or -1 with
  // errno set.
  ssize_t ReadAt(std::vector<unsigned char>& bytes, std::uint64_t offset) const;

 private:
  int fd_;
};

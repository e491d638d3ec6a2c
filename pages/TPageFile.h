#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

using TPage = std::vector<std::uint8_t>;

// A database file opened read-only and read one page at a time with pread.
// Pages read at random (back versions, fragments, blobs, the inventory) go
// through a small LRU cache of fixed size, so memory stays bounded whatever
// the file size.
class TPageFile {
 public:
  static constexpr std::size_t kDefaultCachePages = 256;

  // Throws std::runtime_error when the file cannot be opened.
  explicit TPageFile(const std::string& path, std::size_t cachePages = kDefaultCachePages);
  ~TPageFile();
  TPageFile(const TPageFile&) = delete;
  TPageFile& operator=(const TPageFile&) = delete;

  const std::string& Path() const { return path_; }
  std::uint64_t FileSize() const { return fileSize_; }
  std::uint32_t PageSize() const { return pageSize_; }
  // Sets the page size (from the header or a probe) and empties the cache.
  void SetPageSize(std::uint32_t pageSize);
  // Whole pages in the file.
  std::uint32_t PageCount() const;

  // Reads `size` bytes at `offset`; false when the file is shorter.
  bool ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const;
  // Reads one page into `out` without the cache; false past the end.
  bool ReadPage(std::uint32_t number, TPage& out) const;
  // One page through the cache; nullptr past the end.
  std::shared_ptr<const TPage> Page(std::uint32_t number);
  // Every whole page in order, read past the cache in blocks of about 1 MiB;
  // stops where the file cannot be read.
  using TPageVisitor = std::function<void(std::uint32_t number, std::span<const std::uint8_t>)>;
  void ForEachPage(const TPageVisitor& onPage) const;

 private:
  using TLru = std::list<std::pair<std::uint32_t, std::shared_ptr<const TPage>>>;
  std::string path_;
  int fd_ = -1;
  std::uint64_t fileSize_ = 0;
  std::uint32_t pageSize_ = 4096;
  std::size_t cachePages_;
  TLru lru_;
  std::unordered_map<std::uint32_t, TLru::iterator> index_;
};

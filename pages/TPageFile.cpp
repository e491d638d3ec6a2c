#include "pages/TPageFile.h"

#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

TPageFile::TPageFile(const std::string& path, std::size_t cachePages)
    : path_(path), cachePages_(cachePages == 0 ? 1 : cachePages) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    throw std::runtime_error("Não foi possível abrir " + path + ": " + std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int error = errno;
    ::close(fd_);
    throw std::runtime_error("Não foi possível ler o tamanho de " + path + ": " +
                             std::strerror(error));
  }
  fileSize_ = std::uint64_t(st.st_size);
}

TPageFile::~TPageFile() {
  ::close(fd_);
}

void TPageFile::SetPageSize(std::uint32_t pageSize) {
  pageSize_ = pageSize;
  lru_.clear();
  index_.clear();
}

std::uint32_t TPageFile::PageCount() const {
  const std::uint64_t pages = fileSize_ / pageSize_;
  return pages > UINT32_MAX ? UINT32_MAX : std::uint32_t(pages);
}

bool TPageFile::ReadAt(std::uint64_t offset, std::uint8_t* out, std::size_t size) const {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, off_t(offset + done));
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n <= 0) {
      return false;
    }
    done += std::size_t(n);
  }
  return true;
}

bool TPageFile::ReadPage(std::uint32_t number, TPage& out) const {
  if (number >= PageCount()) {
    return false;
  }
  out.resize(pageSize_);
  return ReadAt(std::uint64_t(number) * pageSize_, out.data(), pageSize_);
}

void TPageFile::ForEachPage(const TPageVisitor& onPage) const {
  constexpr std::size_t kBlockBytes = 1 << 20;
  const std::uint32_t pageCount = PageCount();
  const std::uint32_t pagesPerBlock = std::max<std::uint32_t>(1, kBlockBytes / pageSize_);
  std::vector<std::uint8_t> block(std::size_t(pagesPerBlock) * pageSize_);
  for (std::uint32_t first = 0; first < pageCount; first += pagesPerBlock) {
    const std::uint32_t n = std::min(pagesPerBlock, pageCount - first);
    if (!ReadAt(std::uint64_t(first) * pageSize_, block.data(), std::size_t(n) * pageSize_)) {
      return;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      onPage(first + i,
             std::span<const std::uint8_t>(block.data() + std::size_t(i) * pageSize_, pageSize_));
    }
  }
}

std::shared_ptr<const TPage> TPageFile::Page(std::uint32_t number) {
  const auto found = index_.find(number);
  if (found != index_.end()) {
    lru_.splice(lru_.begin(), lru_, found->second);
    return found->second->second;
  }
  auto page = std::make_shared<TPage>();
  if (!ReadPage(number, *page)) {
    return nullptr;
  }
  if (lru_.size() >= cachePages_) {
    index_.erase(lru_.back().first);
    lru_.pop_back();
  }
  lru_.emplace_front(number, page);
  index_[number] = lru_.begin();
  return page;
}

#include "pages/THeaderPage.h"

#include <algorithm>

#include "pages/Ods.h"

namespace {

bool AllowedPageSize(std::uint32_t size) {
  return size == 4096 || size == 8192 || size == 16384 || size == 32768;
}

// True when the page at `number` read at `pageSize` looks like a page written
// there: a known type and its own number in pag_pageno.
bool LooksLikePage(const TPage& page, std::uint32_t number, std::uint32_t pageSize) {
  const ods::TBytesView b(page);
  const std::uint8_t type = ods::U8(b, 0);
  if (type == ods::kPageUndefined || type > ods::kPageTypeMax ||
      ods::U32(b, ods::kPageNumberOffset) != number) {
    return false;
  }
  if (type == ods::kPageData) {
    return ods::kDpgLines + 4u * ods::U16(b, ods::kDpgCount) <= pageSize;
  }
  if (type == ods::kPagePointer) {
    return ods::U16(b, ods::kPpgCount) <= ods::DataPagesPerPointerPage(pageSize);
  }
  return true;
}

}  // namespace

THeaderPage THeaderPage::Read(const TPageFile& file) {
  TPage bytes(ods::kHdrSize);
  if (!file.ReadAt(0, bytes.data(), bytes.size())) {
    return THeaderPage();
  }
  return Parse(bytes);
}

THeaderPage THeaderPage::Parse(const TPage& bytes) {
  THeaderPage h;
  const ods::TBytesView b(bytes);
  if (b.size() < ods::kHdrSize) {
    return h;
  }
  h.pageSize = ods::U16(b, ods::kHdrPageSize);
  const std::uint16_t ods = ods::U16(b, ods::kHdrOdsVersion);
  h.odsMajor = std::uint16_t(ods & ~ods::kOdsFirebirdFlag);
  h.odsMinor = ods::U16(b, ods::kHdrOdsMinor);
  h.pagesRelation = ods::U32(b, ods::kHdrPages);
  auto wide = [&](std::size_t low, int highIndex) {
    return std::uint64_t(ods::U32(b, low)) |
           (std::uint64_t(ods::U16(b, ods::kHdrTraHigh + 2 * highIndex)) << 32);
  };
  h.oldestInteresting = wide(ods::kHdrOldestTransaction, 0);
  h.oldestActive = wide(ods::kHdrOldestActive, 1);
  h.oldestSnapshot = wide(ods::kHdrOldestSnapshot, 2);
  h.nextTransaction = wide(ods::kHdrNextTransaction, 3);
  h.flags = ods::U16(b, ods::kHdrFlags);
  h.valid_ = ods::U8(b, 0) == ods::kPageHeader && AllowedPageSize(h.pageSize) && h.odsMajor == 12 &&
             (ods & ods::kOdsFirebirdFlag) != 0 && h.pagesRelation != 0 &&
             h.oldestInteresting <= h.nextTransaction + 1;
  return h;
}

std::uint32_t THeaderPage::ProbePageSize(const TPageFile& file) {
  constexpr std::uint32_t kCandidates[] = {4096, 8192, 16384, 32768};
  constexpr std::uint32_t kSamples = 256;
  std::uint32_t best = 0;
  double bestScore = 0;
  TPage page;
  for (const std::uint32_t size : kCandidates) {
    const std::uint64_t pages = file.FileSize() / size;
    if (pages < 2) {
      continue;
    }
    // Pages 1.. first (inventory, SCN, pointer pages), then spread over the file.
    const std::uint64_t step = std::max<std::uint64_t>(1, pages / kSamples);
    std::uint32_t seen = 0;
    std::uint32_t good = 0;
    for (std::uint64_t n = 1; n < pages && seen < 2 * kSamples; n += (n < 64 ? 1 : step)) {
      page.resize(size);
      if (!file.ReadAt(n * size, page.data(), size)) {
        break;
      }
      ++seen;
      if (LooksLikePage(page, std::uint32_t(n), size)) {
        ++good;
      }
    }
    const double score = seen == 0 ? 0 : double(good) / seen;
    if (good > 0 && score > bestScore) {
      bestScore = score;
      best = size;
    }
  }
  return best;
}

#pragma once

#include <cstdint>

#include "pages/TPageFile.h"

// The database header page (page 0) and, when it is damaged, the page size
// found by probing the other pages' own headers.
class THeaderPage {
 public:
  // Reads page 0 of `file` (its first bytes hold the header at any page size).
  static THeaderPage Read(const TPageFile& file);
  // Parses a header from its bytes; Valid() says whether it makes sense.
  static THeaderPage Parse(const TPage& bytes);
  // The page size (4096 to 32768) at which most sampled pages carry their own
  // page number and a known type; 0 when none does.
  static std::uint32_t ProbePageSize(const TPageFile& file);

  // Type 1, a page size Firebird 3 allows and ODS 12.
  bool Valid() const { return valid_; }

  std::uint32_t pageSize = 0;
  std::uint16_t odsMajor = 0;
  std::uint16_t odsMinor = 0;
  std::uint32_t pagesRelation = 0;  // first pointer page of RDB$PAGES
  std::uint64_t nextTransaction = 0;
  std::uint64_t oldestInteresting = 0;
  std::uint64_t oldestActive = 0;
  std::uint64_t oldestSnapshot = 0;
  std::uint16_t flags = 0;

  // Attribute flags of hdr_flags.
  static constexpr std::uint16_t kForcedWrites = 0x2;
  static constexpr std::uint16_t kNoReserve = 0x8;
  static constexpr std::uint16_t kDialect3 = 0x10;
  static constexpr std::uint16_t kReadOnly = 0x20;
  static constexpr std::uint16_t kEncrypted = 0x40;
  static constexpr std::uint16_t kShutdownMask = 0x1080;
  static constexpr std::uint16_t kBackupMask = 0xC00;

 private:
  bool valid_ = false;
};

#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pages/TPageFile.h"

// One damaged page found by looking at the page alone.
struct TDamagedPage {
  std::uint32_t page = 0;
  std::string reason;  // pt-BR, e.g. "zerada"
};

// A page of a relation found by the scan: its sequence and number.
struct TSequencedPage {
  std::uint32_t sequence = 0;
  std::uint32_t page = 0;
  bool operator<(const TSequencedPage& o) const {
    return sequence != o.sequence ? sequence < o.sequence : page < o.page;
  }
};

// One sequential pass over every page of the file, read in large blocks. It
// counts page types, lists pages that are damaged on their own (zeroed while
// allocated, unknown type, another page's number, impossible counts) and
// keeps, per relation, the pointer and data pages that carry its id, so data
// can be found without RDB$PAGES or the pointer pages. Memory grows with the
// number of data pages only (8 bytes each).
class TPageScan {
 public:
  static constexpr std::size_t kMaxListedDamage = 10000;

  static TPageScan Run(const TPageFile& file);

  std::array<std::uint64_t, 11> typeCounts{};  // pages in use by type; [0] = zeroed or unknown
  std::uint64_t freePages = 0;                 // pages the inventory marks free
  std::uint64_t damagedCount = 0;
  std::vector<TDamagedPage> damaged;  // the first kMaxListedDamage of them
  std::map<std::uint16_t, std::vector<TSequencedPage>> dataPages;     // sorted
  std::map<std::uint16_t, std::vector<TSequencedPage>> pointerPages;  // sorted
  std::map<std::uint16_t, std::uint32_t> indexRootPages;  // the first found per relation
  std::vector<std::uint32_t> tipPages;                    // in chain order when the chain holds
  std::map<std::uint32_t, std::uint32_t> tipNext;

  bool IsDamaged(std::uint32_t page) const;

 private:
  void AddDamage(std::uint32_t page, std::string reason);
};

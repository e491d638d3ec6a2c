#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "pages/Ods.h"
#include "pages/TPageReader.h"

// One index of a relation as its index root page describes it.
struct TIndexDescriptor {
  struct TSegment {
    std::uint16_t fieldId = 0;
    std::uint16_t keyType = 0;  // how the segment's value was turned into key bytes
    bool operator==(const TSegment&) const = default;
  };
  std::uint8_t id = 0;  // slot in the root page: RDB$INDICES.RDB$INDEX_ID - 1
  std::uint32_t rootPage = 0;
  std::uint8_t flags = 0;
  std::vector<TSegment> segments;

  bool Primary() const { return (flags & ods::kIrtPrimary) != 0; }
  bool Unique() const { return (flags & ods::kIrtUnique) != 0; }
  bool Descending() const { return (flags & ods::kIrtDescending) != 0; }
  bool Expression() const { return (flags & ods::kIrtExpression) != 0; }
  // Built and in place: neither being created nor dropped.
  bool Usable() const { return rootPage != 0 && (flags & ods::kIrtInProgress) == 0; }
};

// What one walk along an index's leaf level met.
struct TIndexWalk {
  static constexpr std::size_t kMaxListedPages = 1000;

  std::uint64_t entries = 0;       // leaf entries given out
  std::uint64_t leafPages = 0;     // leaf pages read
  std::uint64_t pagesDamaged = 0;  // index pages skipped, at any level
  std::vector<std::uint32_t> damagedPages;
  // The leaf level was read from its leftmost page to its end-of-level node,
  // each page the right sibling of the one before: every entry was seen.
  bool whole = false;

  void AddDamagedPage(std::uint32_t page) {
    ++pagesDamaged;
    if (damagedPages.size() < kMaxListedPages) {
      damagedPages.push_back(page);
    }
  }
};

// Reads a relation's indexes from the file (ODS 12): the index root page,
// then each b-tree from its root down to the leaves and along them by right
// sibling. Damaged pages (wrong type, relation, index or level, impossible
// lengths, nodes running past their area, sibling loops) are counted and
// skipped; where a leaf is lost its parent still names the leaves after it.
class TIndexReader {
 public:
  // Called per leaf entry in key order; `key` is valid during the call only.
  using TEntryCallback = std::function<void(std::uint64_t recordNumber, ods::TBytesView key)>;

  explicit TIndexReader(TPageReader& reader) : reader_(reader) {}

  // The relation's indexes by id; nothing when it has no index root page or
  // that page is damaged.
  std::optional<std::vector<TIndexDescriptor>> Indexes(std::uint16_t relationId);
  TIndexWalk Walk(std::uint16_t relationId, const TIndexDescriptor& index,
                  const TEntryCallback& onEntry);

 private:
  TPageReader& reader_;
};

#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pages/THeaderPage.h"
#include "pages/TPageFile.h"
#include "pages/TPageScan.h"
#include "pages/TReadCounts.h"
#include "pages/TTransactionInventory.h"

// One committed version of a row, decompressed and whole.
struct TRecordImage {
  std::uint32_t page = 0;
  std::uint16_t line = 0;
  std::uint8_t format = 0;
  std::uint64_t transaction = 0;
  const std::vector<std::uint8_t>& data;
};

// Reads a Firebird 3 database file (ODS 12) without the server: the header
// (or a probed page size), RDB$PAGES, pointer and data pages, record
// versions, fragments and blobs. It never writes and never trusts a byte:
// a damaged page or record is counted and skipped. When RDB$PAGES or a
// pointer page is damaged, a relation's data pages are found by scanning
// every page for data pages carrying its id.
class TPageReader {
 public:
  // Returns false when the record cannot be used (counted as undecodable).
  using TRecordCallback = std::function<bool(const TRecordImage&)>;
  // A place (data page, line) on the pages.
  using TPlaceCallback = std::function<void(std::uint32_t page, std::uint16_t line)>;

  // Throws std::runtime_error when the file cannot be opened or no page size
  // can be found.
  explicit TPageReader(const std::string& path);

  TPageFile& File() { return file_; }
  const THeaderPage& Header() const { return header_; }
  bool HeaderValid() const { return header_.Valid(); }
  std::uint32_t PageSize() const { return file_.PageSize(); }
  const TTransactionInventory& Inventory() const { return inventory_; }
  // RDB$PAGES was read whole (its pointer and data pages undamaged).
  bool PagesRelationIntact() const { return pagesRelationIntact_; }
  // Pages of RDB$PAGES found damaged while reading it.
  const std::vector<std::uint32_t>& PagesRelationDamage() const { return pagesRelationDamage_; }
  // The whole-file scan, run the first time it is needed.
  const TPageScan& Scan();
  // Pointer pages per relation as RDB$PAGES (or the scan) lists them.
  const std::map<std::uint16_t, std::vector<TSequencedPage>>& PointerPages() const {
    return pointerPages_;
  }

  // The index root page of a relation as RDB$PAGES lists it (or, when
  // RDB$PAGES is damaged, as the scan finds it); 0 when there is none.
  std::uint32_t IndexRootPage(std::uint16_t relationId);
  // The data pages of a relation in sequence order. Pointer pages found
  // damaged are counted in `counts`, and then the scan completes the list.
  std::vector<TSequencedPage> DataPages(std::uint16_t relationId, TReadCounts& counts);
  // Every row of a relation in storage order, as its newest committed
  // version (the primary version when the inventory is unusable).
  // `onUndecodable` hears the place of each row counted as undecodable.
  void ReadRecords(std::uint16_t relationId, const TRecordCallback& onRecord, TReadCounts& counts,
                   const TPlaceCallback& onUndecodable = {});
  // A data page of the relation, numbered as itself, whose line count fits.
  bool ValidDataPage(const TPage& page, std::uint32_t number, std::uint16_t relationId) const;
  // The content of a blob given its 8-byte id (segments joined). Nothing
  // when it cannot be read whole.
  std::optional<std::vector<std::uint8_t>> ReadBlob(const std::uint8_t* blobId);

  // Largest blob read into memory.
  static constexpr std::uint64_t kMaxBlobBytes = 1ull << 30;

 private:
  struct TSlot {
    std::shared_ptr<const TPage> page;
    std::uint32_t offset = 0;
    std::uint32_t length = 0;
    std::uint16_t flags = 0;
  };
  // A record slot of a data page of `relationId`; nothing when the page or
  // the line is not one.
  std::optional<TSlot> Slot(std::uint32_t page, std::uint16_t line, std::uint16_t relationId);
  // The record's data with all its fragments, decompressed and appended to `out`.
  bool Assemble(const TSlot& slot, std::uint16_t relationId, std::vector<std::uint8_t>& out);
  void ReadPagesRelation();
  std::uint32_t DataPageOf(std::uint16_t relationId, std::uint32_t sequence);
  bool ReadBlobPages(const TSlot& slot, std::uint8_t level, std::uint64_t length,
                     std::vector<std::uint8_t>& raw);

  TPageFile file_;
  THeaderPage header_;
  TTransactionInventory inventory_;
  std::unique_ptr<TPageScan> scan_;
  bool pagesRelationIntact_ = false;
  std::vector<std::uint32_t> pagesRelationDamage_;
  std::map<std::uint16_t, std::vector<TSequencedPage>> pointerPages_;
  std::map<std::uint16_t, std::uint32_t> indexRootPages_;
  std::vector<std::uint8_t> scratch_;
  std::vector<std::uint8_t> newer_;
};

#include "pages/TCommittedWrites.h"

#include <algorithm>
#include <vector>

#include "pages/Ods.h"
#include "pages/TPageReader.h"
#include "pages/TTransactionInventory.h"

namespace {

constexpr std::size_t kBlockBytes = 1 << 20;

}  // namespace

TCommittedWrites TCommittedWrites::Find(const std::string& path, std::uint64_t first,
                                        std::uint64_t last) {
  TCommittedWrites found;
  if (first >= last) {
    return found;
  }
  TPageReader reader(path);
  TPageFile& file = reader.File();
  // The header on the disk may lag behind the server's counter; the range's
  // end is known to be started.
  const std::uint64_t next = std::max(last, reader.Header().nextTransaction);
  const TTransactionInventory inventory(file, reader.Inventory().Pages(), next);
  const bool useInventory = inventory.Usable();

  const std::uint32_t pageSize = file.PageSize();
  const std::uint32_t pageCount = file.PageCount();
  const std::uint32_t pagesPerBlock = std::max<std::uint32_t>(1, kBlockBytes / pageSize);
  std::vector<std::uint8_t> block(std::size_t(pagesPerBlock) * pageSize);
  for (std::uint32_t start = 0; start < pageCount; start += pagesPerBlock) {
    const std::uint32_t n = std::min(pagesPerBlock, pageCount - start);
    if (!file.ReadAt(std::uint64_t(start) * pageSize, block.data(), std::size_t(n) * pageSize)) {
      break;
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      const ods::TBytesView page(block.data() + std::size_t(i) * pageSize, pageSize);
      if (page[0] != ods::kPageData) {
        continue;
      }
      const std::uint16_t lines = ods::U16(page, ods::kDpgCount);
      if (ods::kDpgLines + 4u * lines > pageSize) {
        continue;
      }
      for (std::uint16_t line = 0; line < lines; ++line) {
        const std::size_t entry = ods::kDpgLines + 4u * line;
        const std::uint16_t offset = ods::U16(page, entry);
        const std::uint16_t length = ods::U16(page, entry + 2);
        if (offset < ods::kDpgLines || length < ods::kRhdSize || !ods::Fits(page, offset, length)) {
          continue;  // an empty line, or one damage made up
        }
        const ods::TBytesView record = page.subspan(offset, length);
        const std::uint16_t flags = ods::U16(record, ods::kRhdFlags);
        // Blobs and a record's later fragments carry no transaction of their own.
        if ((flags & (ods::kRhdBlob | ods::kRhdFragment)) != 0) {
          continue;
        }
        const std::uint64_t tx = ods::RecordTransaction(record, flags);
        if (tx < first || tx >= last ||
            (useInventory && inventory.State(tx) != ods::TTransactionState::Committed)) {
          continue;
        }
        ++found.versions;
        found.relations.insert(ods::U16(page, ods::kDpgRelation));
      }
    }
  }
  return found;
}

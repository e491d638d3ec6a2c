#include "pages/TCommittedWrites.h"

#include <algorithm>

#include "pages/Ods.h"
#include "pages/TPageReader.h"
#include "pages/TTransactionInventory.h"

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

  file.ForEachPage([&](std::uint32_t, const ods::TBytesView page) {
    if (page[0] != ods::kPageData) {
      return;
    }
    const std::uint16_t lines = ods::U16(page, ods::kDpgCount);
    if (ods::kDpgLines + 4u * lines > page.size()) {
      return;
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
  });
  return found;
}

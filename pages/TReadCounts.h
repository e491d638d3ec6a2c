#pragma once

#include <cstdint>
#include <vector>

// What one read of a table met on the way.
struct TReadCounts {
  static constexpr std::size_t kMaxListedPages = 1000;

  std::uint64_t dataPages = 0;              // data pages of the table read whole
  std::uint64_t recordsRead = 0;            // rows given out
  std::uint64_t backVersionsSkipped = 0;    // older versions on the pages, not given out
  std::uint64_t uncommittedSkipped = 0;     // newer versions of transactions not committed
  std::uint64_t deletedRecords = 0;         // rows whose newest committed version is a deletion
  std::uint64_t recordsUndecodable = 0;     // records, fragments or values that could not be read
  std::uint64_t blobsUnreadable = 0;        // blob or array values given out as NULL
  std::uint64_t pagesDamaged = 0;           // pages of the table skipped
  std::vector<std::uint32_t> damagedPages;  // the first kMaxListedPages of them
  bool tipUsed = true;                      // versions chosen by the transaction inventory
  bool pagesScanned = false;                // data pages found by scanning the whole file

  void AddDamagedPage(std::uint32_t page) {
    ++pagesDamaged;
    if (damagedPages.size() < kMaxListedPages) {
      damagedPages.push_back(page);
    }
  }
};

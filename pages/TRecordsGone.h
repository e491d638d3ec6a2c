#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fbaccess/TValue.h"
#include "pages/TTableReader.h"

// The rows of a table the pages can no longer give, found through an index:
// every index entry names a record number, and a record whose data page is
// missing from the pointer pages, damaged or zeroed, or whose record cannot
// be decoded, is gone. An empty line on an intact page is a row deleted (and
// collected) since, not a loss. The primary key's index is preferred, its keys
// turned back into the key columns' values where the encoding allows; a table
// without one is counted through any index, without keys.
class TRecordsGone {
 public:
  struct TGone {
    std::uint64_t recordNumber = 0;
    std::uint32_t sequence = 0;  // the data page's place in the relation
    std::uint16_t line = 0;
    std::uint32_t page = 0;   // 0 when no data page has that place
    std::vector<TValue> key;  // per key column; empty when not decoded
  };
  struct TResult {
    std::string table;
    std::uint16_t relationId = 0;
    bool indexRead = false;   // some index of the table could be walked
    bool primaryKey = false;  // ... and it was the primary key's
    std::uint8_t indexId = 0;
    std::vector<std::string> keyColumns;  // the key's columns, in key order
    bool keysDecoded = false;             // the key encoding gives their values
    // The index's leaf level was read whole: `gone` is every row lost.
    bool indexWhole = false;
    std::uint64_t indexEntries = 0;
    std::uint64_t indexPagesDamaged = 0;
    std::vector<TGone> gone;  // by record number, one per record
  };

  // Throws std::runtime_error for a table the schema does not know.
  static TResult Find(TTableReader& tables, const std::string& table);
  static TResult Find(TTableReader& tables, std::uint16_t relationId);
};

#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/FixtureDatabase.h"

namespace testsupport {

// What zeroing one data page destroyed.
struct DamageReport {
  uint32_t pageNumber = 0;    // page zeroed in the file
  uint32_t pageSequence = 0;  // its place among the table's data pages
  // Key texts (as the key expression reads through isql) of the rows that
  // lived on that page, in the order the server returned them.
  std::vector<std::string> lostKeys;
};

// Deterministic damage written straight into the files, never through the
// server. Database files must have page size 4096; before touching one, this
// waits until the server has closed it (it does so when the last attachment
// ends) and throws if it does not.
class FileDamage {
 public:
  static constexpr uint32_t kPageSize = 4096;

  // The data page numbers of a table, in the order its pointer pages list them.
  static std::vector<uint32_t> DataPages(const FixtureDatabase& db, const std::string& table);

  // Writes zeros over the table's data page number `index` (0-based among
  // DataPages) and reports the keys of the rows it held. `keyExpression` is
  // an SQL expression over the table's columns giving a key text, e.g. "ID"
  // or "ID || '|' || SEQ".
  static DamageReport ZeroDataPage(const FixtureDatabase& db, const std::string& table,
                                   const std::string& keyExpression, size_t index);

  // Writes zeros over one page of a database file.
  static void ZeroPage(const std::string& file, uint32_t pageNumber);

  // Copies `source` to `target` cut to `keepBytes` bytes (a backup that ends
  // too early); the copy is given to user `firebird`.
  static void TruncatedCopy(const std::string& source, const std::string& target,
                            uint64_t keepBytes);
  // Copies a backup to `target` with its first 64 bytes overwritten: a restore
  // through the service manager then fails at once with
  // "gbak: ERROR:expected backup description record". (A truncated backup
  // is no substitute: that restore stops silently with no error line.)
  static void CorruptedBackupCopy(const std::string& source, const std::string& target);
  // The whole content of a file ("" when it cannot be read).
  static std::string ReadWhole(const std::string& file);
  // True when two database images have the same size and the same pages, the
  // server's bookkeeping aside: it rewrites the header page (type 1) and the
  // transaction inventory pages (type 3) on every attach and transaction.
  static bool SamePagesApartFromBookkeeping(const std::string& a, const std::string& b);
  // Overwrites `length` bytes of a file at `offset` with `value`.
  static void Overwrite(const std::string& file, uint64_t offset, uint64_t length,
                        unsigned char value);
};

}  // namespace testsupport

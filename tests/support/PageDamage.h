#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/FixtureDatabase.h"

namespace testsupport {

// Damage to whole pages of a database file of any page size, written into
// the file after the server has closed it (throws when it does not).
class PageDamage {
 public:
  // A database created with this page size (dialect 3) holding `script`.
  static FixtureDatabase Create(const std::string& path, std::uint32_t pageSize,
                                const std::string& script);
  // The page size written in the file's header page.
  static std::uint32_t PageSizeOf(const std::string& file);
  // The pointer pages of a table, in sequence order.
  static std::vector<std::uint32_t> PointerPages(const FixtureDatabase& db,
                                                 const std::string& table);
  // The data pages of a table, found by reading the file: page type 5 with
  // the table's relation id at byte 20.
  static std::vector<std::uint32_t> DataPages(const FixtureDatabase& db, const std::string& table);
  static void ZeroPage(const std::string& file, std::uint32_t pageNumber);
  // Cuts the file to its first `pages` pages.
  static void KeepPages(const std::string& file, std::uint64_t pages);
  // Copies a database file that the server has closed; the copy is given to
  // the server.
  static void Copy(const std::string& source, const std::string& target);
};

}  // namespace testsupport

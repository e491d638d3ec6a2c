#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One table as the examination found it.
struct TInspectedTable {
  std::uint16_t relationId = 0;
  std::string name;          // empty when the system tables do not name it
  bool schemaKnown = false;  // its columns and formats are known
  std::uint64_t dataPages = 0;
  std::uint64_t records = 0;  // rows readable from the pages
  std::uint64_t backVersions = 0;
  std::uint64_t undecodable = 0;
  std::uint64_t deleted = 0;
  std::uint64_t pagesDamaged = 0;
  bool pagesScanned = false;
  // Rows whose bytes are gone, named by an index's entries; `destroyedKnown`
  // when an index was read whole (else at least that many).
  std::uint64_t destroyed = 0;
  bool destroyedKnown = false;
};

// A damaged page and what it was for.
struct TInspectedPage {
  std::uint32_t page = 0;
  std::string role;    // pt-BR: "cabeçalho", "página de ponteiros de CLIENTES", ...
  std::string reason;  // pt-BR
};

// What the examination of a database file found, with a verdict in plain
// Portuguese of what a repair is expected to do.
struct TInspectionResult {
  std::string path;
  bool opened = false;
  std::string error;  // why the file could not be read at all

  std::uint64_t fileSize = 0;
  std::uint32_t pageSize = 0;
  bool pageSizeProbed = false;  // the header was damaged
  std::uint64_t pageCount = 0;
  bool wholePages = true;  // the file size is a multiple of the page size
  bool headerValid = false;
  std::uint16_t odsMajor = 0;
  std::uint16_t odsMinor = 0;
  std::uint64_t nextTransaction = 0;
  std::uint64_t oldestInteresting = 0;
  std::uint64_t oldestActive = 0;
  std::uint64_t oldestSnapshot = 0;
  std::uint16_t headerFlags = 0;

  std::array<std::uint64_t, 11> pageTypes{};  // pages in use by type
  std::uint64_t freePages = 0;
  bool pagesRelationIntact = false;  // RDB$PAGES
  bool inventoryUsable = false;      // transaction inventory pages
  bool systemTablesIntact = false;
  std::uint64_t damagedCount = 0;
  std::vector<TInspectedPage> damaged;
  std::vector<TInspectedTable> tables;

  int level = 0;  // 1, 2 or 3
  std::vector<std::string> verdict;

  std::vector<std::string> ToText() const;
  std::string ToJson() const;
};

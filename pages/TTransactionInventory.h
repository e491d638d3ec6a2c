#pragma once

#include <cstdint>
#include <vector>

#include "pages/Ods.h"
#include "pages/TPageFile.h"

// The transaction inventory pages (2 bits per transaction), read on demand
// through the page cache. It is usable only when every page is a proper
// inventory page; otherwise readers fall back to primary record versions.
class TTransactionInventory {
 public:
  TTransactionInventory() = default;
  // `pages` in sequence order; `nextTransaction` 0 when the header is unknown.
  TTransactionInventory(TPageFile& file, std::vector<std::uint32_t> pages,
                        std::uint64_t nextTransaction);

  bool Usable() const { return usable_; }
  const std::vector<std::uint32_t>& DamagedPages() const { return damaged_; }
  const std::vector<std::uint32_t>& Pages() const { return pages_; }
  // The state of a transaction; the system transaction (0) is committed, one
  // past the inventory or the header's counter is active.
  ods::TTransactionState State(std::uint64_t transaction) const;

 private:
  TPageFile* file_ = nullptr;
  std::vector<std::uint32_t> pages_;
  std::vector<std::uint32_t> damaged_;
  std::uint64_t nextTransaction_ = 0;
  std::uint64_t perPage_ = 1;
  bool usable_ = false;
};

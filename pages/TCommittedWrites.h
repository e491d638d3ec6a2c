#pragma once

#include <cstdint>
#include <set>
#include <string>

// What the transactions numbered from `first` up to `last` (not included)
// wrote and committed in a database file: every record version on its data
// pages (primary and back versions, deletion marks) whose transaction lies in
// that range and that the transaction inventory calls committed; without a
// usable inventory every version in the range counts. The range the run asks
// about is a handful of numbers, so the stray bytes of a damaged page hardly
// ever fall in it.
class TCommittedWrites {
 public:
  // Throws std::runtime_error when the file cannot be read.
  static TCommittedWrites Find(const std::string& path, std::uint64_t first, std::uint64_t last);

  std::uint64_t versions = 0;         // record versions found
  std::set<std::uint16_t> relations;  // the relations they belong to
};

#pragma once

#include <cstdint>
#include <string>

// A first look at a database file, read straight from the disk before the
// server is asked to touch it: the header page (page 0) and the page
// inventory pages. Firebird 3 cannot validate a file whose inventory is
// broken (it loops, growing the file) or that is shorter than the pages in
// use (the validation fails and the server then refuses that path as
// damaged), so those two verdicts send the run straight to the backup.
// The file is opened read-only and never written.
class TTriage {
 public:
  enum class Verdict {
    Healthy,               // nothing wrong in what was looked at
    Truncated,             // pages in use lie beyond the end of the file
    BrokenPageInventory,   // a page inventory page is not one
    NotADatabase,          // no Firebird header page
    UnsupportedStructure,  // a header of an on-disk structure Firebird 3 does not open
    UnreadableHeader,      // the file could not be opened or read
  };

  struct Result {
    Verdict verdict = Verdict::UnreadableHeader;
    std::uint32_t pageSize = 0;
    int odsMajor = 0;
    int odsMinor = 0;
    std::uint64_t fileSize = 0;
    // Whole pages in the file, and the pages the inventory says are in use
    // (highest page in use + 1; 0 when not read).
    std::uint64_t pagesInFile = 0;
    std::uint64_t pagesInUse = 0;
    // The reason in the user's words, naming the file.
    std::string reason;

    // Validation and mend must not be run on this file.
    bool SkipValidation() const {
      return verdict == Verdict::Truncated || verdict == Verdict::BrokenPageInventory;
    }
  };

  static Result Examine(const std::string& path);

  // Page inventory layout (ODS 12): after the 16-byte page header come the
  // lowest free page, the extent and the high-water mark (32 bits each), then
  // one bit per page, set while the page is free.
  static constexpr std::uint32_t kInventoryBitsOffset = 28;
  // Pages one inventory page covers. The first inventory is page 1; the one
  // for pages from n * PagesPerInventory on is page n * PagesPerInventory - 1.
  static std::uint32_t PagesPerInventory(std::uint32_t pageSize) {
    return (pageSize - kInventoryBitsOffset) * 8;
  }
};

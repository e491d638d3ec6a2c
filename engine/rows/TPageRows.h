#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/rows/TTableLayout.h"
#include "fbaccess/TValue.h"
#include "pages/TSchema.h"

class TTableReader;

// The rows of a table read straight from a database file's pages, without
// the server, each as the values of a TTableLayout's copied columns (matched
// by name; a column the pages lack is NULL). The file is opened read-only,
// once, at the first read.
class TPageRows {
 public:
  struct TRead {
    long long rows = 0;
    // Every record of the table was read: no page of it damaged (a lost
    // pointer page counts only when the whole-file scan shows that no data
    // page can have gone with it), no record unreadable, versions chosen by
    // the transaction inventory. The rows given are then all the table has.
    bool whole = false;
    std::uint64_t pagesDamaged = 0;
    std::uint64_t recordsUnreadable = 0;
    std::uint64_t blobsUnreadable = 0;  // given as NULL
    // False when the transaction inventory could not be read: each record's
    // newest version was taken.
    bool versionsFromInventory = true;
    std::string problem;  // why nothing could be read (pt-BR)
  };
  using TRowCallback = std::function<void(const std::vector<TValue>&)>;

  // `otherSchema` (the older backup's tables) names the columns of tables
  // whose rows in the file's own system tables are damaged.
  explicit TPageRows(std::string path, std::optional<TSchema> otherSchema = {});
  ~TPageRows();
  TPageRows(const TPageRows&) = delete;
  TPageRows& operator=(const TPageRows&) = delete;

  const std::string& Path() const { return path_; }
  TRead Read(const TTableLayout& layout, const TRowCallback& onRow);

  // The file whose pages hold the most of what the database had: the copy
  // the run took before the validation (the newest of the " (Copia)" names
  // beside it), whose pages no mend has touched; the database itself when
  // there is none. The validation frees the data pages a lost pointer page
  // no longer reaches, and the mend marks damaged records.
  static std::string PristineCopyOf(const std::string& databasePath);

 private:
  bool Open(std::string& problem);
  bool Whole(std::uint16_t relationId, const struct TReadCounts& counts);

  std::string path_;
  std::optional<TSchema> otherSchema_;
  std::unique_ptr<TTableReader> reader_;
  std::string openError_;
  bool tried_ = false;
};

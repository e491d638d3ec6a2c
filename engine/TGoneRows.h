#pragma once

#include <string>
#include <vector>

#include "engine/RunTypes.h"
#include "engine/TConnection.h"

// Rows the damage destroyed that no source gave back: the records of the
// run's pristine copy whose pages are gone, found through each table's
// primary key index (whose entries outlive the data page), and looked up by
// key in the repaired database. Those the repaired database lacks are lost.
class TGoneRows {
 public:
  // `copyPath`: the copy taken before anything touched the database.
  TGoneRows(TConnection& result, std::string copyPath);

  // Per table whose index was read: how many destroyed records the result
  // lacks, and their keys. `known` (the count is every row the damage took)
  // is false where the index was not read whole or its keys cannot be turned
  // back into values. Nothing when the copy cannot be read.
  TableLosses Count();
  // One log line per table with destroyed records.
  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  TConnection& result_;
  std::string copyPath_;
  std::vector<std::string> notes_;
};

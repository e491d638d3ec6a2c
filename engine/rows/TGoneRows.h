#pragma once

#include <atomic>
#include <exception>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/run/RunTypes.h"
#include "pages/TRecordsGone.h"

// Rows the damage destroyed that no source gave back: the records of the
// run's pristine copy whose pages are gone, found through each table's
// primary key index (whose entries outlive the data page), and looked up by
// key in the repaired database. Those the repaired database lacks are lost.
class TGoneRows {
 public:
  // What the copy's pages alone tell, per table of its schema: the index's
  // destroyed records and, when none was found but the index was cut,
  // whether every record still reads. Needs no server.
  struct TCopyFindings {
    bool readable = false;  // the copy could be opened
    struct TTable {
      TRecordsGone::TResult found;
      bool recordsIntact = false;
      std::exception_ptr intactFailure;  // reading the records failed
    };
    std::map<std::string, TTable> tables;
  };

  // Reads the copy's pages; it touches nothing shared, so it may run on a
  // thread of its own while the server works (the copy is never written
  // after step 2). `stop` set ends it between tables, as if unreadable.
  static TCopyFindings ReadCopy(const std::string& copyPath,
                                const std::atomic<bool>* stop = nullptr);

  // `copyPath`: the copy taken before anything touched the database.
  TGoneRows(TConnection& result, std::string copyPath);
  // With the copy read already.
  TGoneRows(TConnection& result, TCopyFindings findings);

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
  std::optional<TCopyFindings> findings_;
  std::vector<std::string> notes_;
};

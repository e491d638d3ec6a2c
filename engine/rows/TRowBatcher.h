#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TBlockInsert.h"
#include "engine/rows/TTableLayout.h"
#include "fbaccess/TFieldType.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TValue.h"

// Rows of one table put into the target as they come, one at a time, and
// inserted several per statement (TBlockInsert), by blocks that grow as the
// table's rows keep coming. A full block by compiled request is stored by
// the server while the caller reads the next rows: until Flush or Retry the
// caller uses the target only through the batcher, and the counts hold
// after them. The server undoes a block it refuses as a
// whole; its rows then go in one by one, so that only the rows at fault are
// held back. Those are kept with the server's reason, to be tried again
// once the rows they wait for are in (Retry) and then named as lost by the
// caller: every row given is either inserted or refused.
//
//   TRowBatcher rows(target, layout);       // target attached
//   for (each row read) rows.Add(values);
//   rows.Retry();                           // flushes, retries the refused
//   target.Transaction().Commit();
//   rows.Inserted(); rows.Refused();        // counts and the rows left out
class TRowBatcher {
 public:
  struct TRefused {
    std::vector<TValue> values;
    int source = 0;         // as given to Add
    std::string error;      // the first line of the server's answer, at its last try
    std::size_t order = 0;  // its place among the rows given
  };

  // `target` must be attached; the inserts run in its transaction, which
  // the caller commits or rolls back. `layout` (read from the target) must
  // outlive the batcher.
  TRowBatcher(TConnection& target, const TTableLayout& layout);

  // Queues the row (the layout's columns, as TTableLayout::ReadRow or the
  // page reader give them); a full block goes in at once. `source` is the
  // caller's own tag, counted by Inserted(source) once the row is in.
  void Add(const std::vector<TValue>& values, int source = 0);
  // Inserts the queued rows: as one block, or one by one where it is refused.
  void Flush();
  // Flushes, then tries the refused rows again as long as a pass puts any
  // of them in (a row of a table that refers to itself goes in once the
  // parent given after it is in).
  void Retry();

  // Rows inserted, in all or with that source tag.
  long long Inserted() const { return inserted_; }
  long long Inserted(int source) const;
  // The rows refused so far; after Retry, those still refused, in the
  // order they were given.
  const std::vector<TRefused>& Refused() const { return refused_; }
  // Statements of several rows the server took, and those it refused (their
  // rows then went one by one).
  long long BlocksInserted() const { return blocksInserted_; }
  long long BlocksRefused() const { return blocksRefused_; }
  // The target's type of each of the layout's columns (arrays aside).
  const std::vector<TFieldType>& Types() const { return types_; }
  // Rows per block at most for this table (1: blocks cannot be used); the
  // first rows go in by smaller blocks (TBlockInsert::TargetRows).
  std::size_t BlockRows() const { return blocks_.BlockRows(); }

 private:
  // The layout's columns as the target describes them.
  static std::vector<TFieldDef> TargetFields(TConnection& target, const TTableLayout& layout);
  // Queues a row with its place among the rows given (`order`).
  void Queue(std::vector<TValue> values, int source, std::size_t order);
  // Inserts `count` queued rows from `first` as one block, or one by one
  // when they are one or the block is refused.
  void InsertRows(std::size_t first, std::size_t count);
  // Sends the queued rows, a full block, to be stored while the next rows
  // come; the block sent before is settled first.
  void SendQueued();
  // Waits for the block in flight: counts its rows, or puts them in one by
  // one when the server refused it.
  void Settle();
  // Rows waiting together: their values, sources and places among the rows given.
  struct TPending {
    std::vector<std::vector<TValue>> values;
    std::vector<int> sources;
    std::vector<std::size_t> orders;
    void Clear();
  };
  // Counts rows [first, first + count) of `rows` as in (`inBlock`), or
  // inserts each on its own, keeping those refused with the reason.
  void Place(TPending& rows, std::size_t first, std::size_t count, bool inBlock, std::string error);
  bool InsertOne(const std::vector<TValue>& values, std::string& error);
  void Count(int source);

  const TTableLayout& layout_;
  std::vector<TFieldDef> fields_;
  std::vector<TFieldType> types_;
  TBlockInsert blocks_;
  TIBQuery single_;
  TPending queued_;
  TPending flying_;  // the block in flight
  std::vector<TRefused> refused_;
  std::size_t given_ = 0;
  long long inserted_ = 0;
  long long blocksInserted_ = 0;
  long long blocksRefused_ = 0;
  std::vector<long long> bySource_;
};

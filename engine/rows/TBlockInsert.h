#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/rows/TTableLayout.h"
#include "fbaccess/TFieldDef.h"
#include "fbaccess/TIBBlockStore.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TValue.h"

// Inserts rows of one table several at a time, so a block costs one round
// trip to the server instead of one per row: each block of rows is one
// compiled request storing every row straight from its message
// (TIBBlockStore, as the server's own restore stores rows), or, for tables
// whose values cannot travel that way (blobs, arrays), one `execute block`
// whose parameters carry every value and whose code is one plain insert per
// row. The server undoes a block it refuses as a whole; the caller then
// inserts its rows one by one, so that the row at fault is found and the
// others still go in.
class TBlockInsert {
 public:
  // Rows of one block: each row's insert is a context of the statement, and
  // Firebird 3 numbers at most 256 of them.
  static constexpr std::size_t kMaxRows = 240;
  // Values of one block: the client describes each in a descriptor entry
  // counted in 16 bits.
  static constexpr std::size_t kMaxParams = 16000;
  // Bytes of the values of one block (the input message) and of its text,
  // far below what Firebird 3 takes (a statement text of 10 MB; blocks of
  // 1 MB of values went in in the tests).
  static constexpr std::size_t kMaxValueBytes = 512000;
  static constexpr std::size_t kMaxTextBytes = 1000000;
  // The smallest block, and for each size how many times its rows must
  // have come before it is used (TargetRows).
  static constexpr std::size_t kFirstBlockRows = 16;
  static constexpr std::size_t kPaidBack = 8;

  // `fields` are the layout's columns as the target describes them (a
  // select of the layout's columns prepared there).
  TBlockInsert(TIBDatabase& target, const TTableLayout& layout, std::vector<TFieldDef> fields);

  // Rows per block at most; 1 when blocks cannot be used (array columns,
  // which a block's parameter cannot be, or rows too wide for one).
  // Compiled requests take fewer rows of a wide table than execute blocks.
  std::size_t BlockRows() const { return blockRows_; }
  // The rows of the next block once `given` rows of the table have come
  // (1: one by one). Preparing a block takes the server about as long, per
  // row of it, as three or four rows inserted one by one (measured): a
  // table's first rows go in one by one, then by blocks of kFirstBlockRows
  // rows, four times more at each step up to BlockRows(), each size once
  // kPaidBack times its rows have come, so that a small table prepares
  // little and a large one soon takes full blocks.
  std::size_t TargetRows(std::size_t given) const { return TargetRows(given, blockRows_); }
  static std::size_t TargetRows(std::size_t given, std::size_t blockRows);
  // The largest block size prepared so far of at most `rows` rows; 1 when
  // there is none. Rows left at the end go in by these, not by a statement
  // prepared for them alone.
  std::size_t PreparedRows(std::size_t rows) const;
  // Inserts the rows (at most BlockRows()) in one request or statement,
  // prepared the first time a block of that size comes. False when the
  // server refused it: none of them is in. A request that cannot be
  // compiled turns to execute blocks for good; an execute block that cannot
  // even be prepared caps BlockRows() at the largest size prepared before
  // (1: blocks off).
  bool Insert(std::span<const std::vector<TValue>> rows, std::string& error);

  // The statement for `rows` rows of `columns` of `table`.
  static std::string BlockText(const std::string& table, const std::vector<std::string>& columns,
                               std::size_t rows);
  // A parameter's name for value `index`, short and distinct (its least
  // significant digit first).
  static std::string ParamName(std::size_t index);

  // Whether blocks go by compiled requests (else by execute blocks).
  bool ByRequests() const { return store_ != nullptr; }

  // A block by compiled request in steps, so that the next block is read and
  // converted while the server stores this one (ByRequests() only). Encode
  // converts the rows; false when a value cannot go in the message (its rows
  // go one by one). Send hands them to the server and returns at once;
  // false when the request could not be compiled (blocks go by execute
  // blocks from then on, and these rows one by one). Wait returns once the
  // block in flight is stored: false when the server refused it (none of
  // its rows is in). Nothing else may use the attachment while a block is
  // in flight.
  bool Encode(std::span<const std::vector<TValue>> rows, std::string& error);
  bool Send(std::string& error);
  bool Wait(std::string& error);
  bool InFlight() const { return store_ != nullptr && store_->InFlight(); }

 private:
  TIBQuery& Statement(std::size_t rows);
  bool InsertByRequest(std::span<const std::vector<TValue>> rows, std::string& error);
  // Runs `call`, a request of `rows` rows: false with the error when it
  // fails, and execute blocks from then on when the server took no request
  // for the table; the size counts as prepared once a request went in.
  bool ByRequest(std::size_t rows, const std::function<void()>& call, std::string& error);
  // The store gave up at its first request: execute blocks from now on.
  void DropRequests();

  TIBDatabase& target_;
  const TTableLayout& layout_;
  std::vector<TFieldDef> fields_;
  std::size_t blockRows_ = 1;
  std::size_t statementRows_ = 1;  // the largest execute block
  // Prepared once and run for every block of its size (no query: a
  // compiled request, held by store_).
  struct TPrepared {
    std::size_t rows = 0;
    std::unique_ptr<TIBQuery> query;
  };
  std::vector<TPrepared> prepared_;
  std::unique_ptr<TIBBlockStore> store_;  // null: execute blocks
  std::size_t encodedRows_ = 0;
};

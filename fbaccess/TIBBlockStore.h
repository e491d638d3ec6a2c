#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fbaccess/IIBDependent.h"
#include "fbaccess/TFieldType.h"
#include "fbaccess/TValue.h"

class TIBDatabase;
class TIBTransaction;

namespace fbdetail {
class TIBXSQLDA;
}

// Rows of one table stored several at a time by a compiled request (BLR), as
// the server's own restore stores its rows: one message carries a block of
// rows and the request assigns each row's values straight to a new record,
// with no SQL statement and no PSQL variable in between (the server's work
// per row about two thirds of an execute block inserting the same rows,
// measured). Each value is converted on the client by the same code as a
// parameter of an insert statement, and travels in the type that code gives
// it, so the server converts it into the column as it would the
// statement's. The server undoes a request that fails: a block goes in
// whole or not at all.
//
//   TIBBlockStore store(db, tr, "T", {"A", "B"}, {TFieldType::Integer, ...});
//   if (store.Usable()) store.Store(rows);  // throws the server's refusal
class TIBBlockStore : public IIBDependent {
 public:
  // Rows of one block: each row's store is a context of the request, and
  // Firebird 3 numbers at most 255 of them.
  static constexpr std::size_t kMaxRows = 240;
  // The client takes a request's BLR and a message of at most 64 KiB.
  static constexpr std::size_t kMaxBytes = 65535;

  // Describes the columns (a prepared insert of them into `table`), so
  // `database` must be attached and `transaction` may be started. `types`
  // are the types each column's values are bound as, one per column.
  TIBBlockStore(TIBDatabase& database, TIBTransaction& transaction, std::string table,
                std::vector<std::string> columns, std::vector<TFieldType> types);
  ~TIBBlockStore() override;
  TIBBlockStore(const TIBBlockStore&) = delete;
  TIBBlockStore& operator=(const TIBBlockStore&) = delete;

  // False when a column's values cannot travel in a message of fixed types
  // (blobs and arrays are written apart; text bound into a column of another
  // type goes as text of its own length) or the client has no compiled
  // requests: a caller then inserts by statements.
  bool Usable() const { return usable_; }
  // Rows per block at most (kMaxRows, fewer for wide rows); 0 when not usable.
  std::size_t MaxRows() const { return maxRows_; }
  // Stores `rows` (1 to MaxRows(), each with one value per column) in the
  // transaction, compiling the request for that many rows the first time.
  // Throws the client's or the server's error: none of the rows is in then.
  void Store(std::span<const std::vector<TValue>> rows);
  // Whether a request for that many rows is compiled.
  bool Compiled(std::size_t rows) const;

  void DatabaseClosing() override;
  void TransactionEnding() override {}
  void DatabaseDestroyed() override;

  // The message's type of each column; exposed for the tests.
  struct TSlot {
    short sqltype = 0;  // the message field's type (SQL_VARYING for any text)
    short length = 0;   // its declared length (text: bytes)
    short scale = 0;
    short subtype = 0;  // text: the column's character set
    short written = 0;  // the type the parameter code writes for a value
  };
  const std::vector<TSlot>& Slots() const { return slots_; }

 private:
  struct TRequest {
    std::size_t rows = 0;
    unsigned int handle = 0;
    std::vector<std::size_t> offsets;  // per value: data, then its null flag
    std::size_t length = 0;            // of the message
  };

  TRequest& Request(std::size_t rows);
  std::string Blr(std::size_t rows, TRequest& request) const;
  void ReleaseAll() noexcept;

  TIBDatabase* database_;
  TIBTransaction& transaction_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<TFieldType> types_;
  std::unique_ptr<fbdetail::TIBXSQLDA> values_;  // one entry per column
  std::vector<TSlot> slots_;
  bool usable_ = false;
  std::size_t maxRows_ = 0;
  std::vector<TRequest> requests_;
  std::vector<std::uint64_t> message_;  // 8-byte aligned
};

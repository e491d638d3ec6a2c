#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
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
//
// Or in steps, converting the next block while the server stores the last:
//   store.Encode(block1); store.Send();
//   store.Encode(block2); store.Wait(); store.Send(); ...; store.Wait();
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
  // The same in steps. Encode converts `rows` into the next message (no call
  // on the attachment: allowed while a block is in flight); throws when a
  // value cannot be converted. Send compiles the request when needed and
  // hands the message to the store's own thread, returning at once; nothing
  // may be in flight then. Wait returns once the block in flight is stored
  // (at once when none is) and throws the server's error when it was
  // refused. While a block is in flight the caller makes no other call on
  // the attachment or its transaction.
  void Encode(std::span<const std::vector<TValue>> rows);
  void Send();
  void Wait();
  bool InFlight() const { return inFlight_; }
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
    unsigned int handle = 0;  // 0 until compiled
    std::string blr;
    std::vector<std::size_t> offsets;  // per value: data, then its null flag
    std::size_t length = 0;            // of the message
  };
  // The thread that sends a block while the caller converts the next.
  struct TCourier;

  // The layout of the request for `rows` rows, compiled or not.
  TRequest& Layout(std::size_t rows);
  void Compile(TRequest& request);
  // The encoded message's request, compiled, with the transaction started.
  TRequest& Ready();
  void ReleaseAll() noexcept;
  void WaitQuietly() noexcept;

  TIBDatabase* database_;
  TIBTransaction& transaction_;
  std::string table_;
  std::vector<std::string> columns_;
  std::vector<TFieldType> types_;
  std::unique_ptr<fbdetail::TIBXSQLDA> values_;  // one entry per column
  std::vector<TSlot> slots_;
  bool usable_ = false;
  std::size_t maxRows_ = 0;
  std::deque<TRequest> requests_;  // stable: the courier holds one
  // The message encoded last and the one in flight (8-byte aligned).
  std::vector<std::uint64_t> message_;
  std::vector<std::uint64_t> sending_;
  TRequest* encoded_ = nullptr;  // the request of message_
  bool inFlight_ = false;
  std::unique_ptr<TCourier> courier_;
};

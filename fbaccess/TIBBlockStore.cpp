#include "fbaccess/TIBBlockStore.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>

#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/TIBSQL.h"
#include "fbaccess/detail/TIBXSQLDA.h"

namespace {

using TSlot = TIBBlockStore::TSlot;

// The message's type of a column whose values are bound as `type`: the type
// the parameter code (TIBXSQLVAR::WriteValue) writes for any value, which
// must not depend on the value. None for the columns whose written type
// does: blobs and arrays (written apart, in the transaction), and text into
// a column that is not text (an empty text goes as null, a date as a
// timestamp). Text goes as text of the value's own length: in the message,
// a varying string as long as the column, in the column's character set.
std::optional<TSlot> SlotFor(TFieldType type, const XSQLVAR& declared, int dialect) {
  const short declType = short(declared.sqltype & ~1);
  if (declType == SQL_BLOB || declType == SQL_ARRAY) {
    return std::nullopt;
  }
  auto plain = [](short sqltype, short length, short scale = 0) {
    return TSlot{sqltype, length, scale, 0, sqltype};
  };
  switch (type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Blob:
    case TFieldType::Memo:
    case TFieldType::Bytes:
      if (declType != SQL_TEXT && declType != SQL_VARYING) {
        return std::nullopt;
      }
      return TSlot{SQL_VARYING, declared.sqllen, 0, declared.sqlsubtype, SQL_TEXT};
    case TFieldType::Boolean:
      return declType == SQL_BOOLEAN ? plain(SQL_BOOLEAN, 1) : plain(SQL_SHORT, 2);
    case TFieldType::Smallint:
    case TFieldType::Word:
      return plain(SQL_SHORT, 2);
    case TFieldType::Integer:
      return plain(SQL_LONG, 4);
    case TFieldType::LargeInt:
      return plain(SQL_INT64, 8);
    case TFieldType::Float:
      return plain(SQL_DOUBLE, 8);
    case TFieldType::Currency:
    case TFieldType::BCD:
      return dialect >= 3 ? plain(SQL_INT64, 8, -4) : plain(SQL_DOUBLE, 8);
    case TFieldType::Date:
      return dialect >= 3 ? plain(SQL_TYPE_DATE, 4) : plain(SQL_TIMESTAMP, 8);
    case TFieldType::Time:
      return dialect >= 3 ? plain(SQL_TYPE_TIME, 4) : plain(SQL_TIMESTAMP, 8);
    case TFieldType::DateTime:
      return plain(SQL_TIMESTAMP, 8);
    case TFieldType::Unknown:
      break;
  }
  return std::nullopt;
}

// Bytes of a message field and their alignment, as the server and the
// client's message parser lay a message out.
std::size_t Bytes(const TSlot& slot) {
  return std::size_t(slot.length) + (slot.sqltype == SQL_VARYING ? 2 : 0);
}

std::size_t Alignment(const TSlot& slot) {
  switch (slot.sqltype) {
    case SQL_VARYING:
    case SQL_SHORT:
      return 2;
    case SQL_LONG:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
      return 4;
    case SQL_INT64:
    case SQL_DOUBLE:
      return 8;
    default:
      return 1;
  }
}

std::size_t Align(std::size_t offset, std::size_t alignment) {
  return (offset + alignment - 1) / alignment * alignment;
}

void Byte(std::string& blr, int value) {
  blr += static_cast<char>(value & 0xFF);
}

void Word(std::string& blr, std::size_t value) {
  Byte(blr, int(value & 0xFF));
  Byte(blr, int((value >> 8) & 0xFF));
}

void Name(std::string& blr, const std::string& name) {
  Byte(blr, int(name.size()));
  blr += name;
}

void FieldType(std::string& blr, const TSlot& slot) {
  switch (slot.sqltype) {
    case SQL_VARYING:
      Byte(blr, blr_varying2);
      Word(blr, std::uint16_t(slot.subtype));
      Word(blr, std::uint16_t(slot.length));
      return;
    case SQL_SHORT:
      Byte(blr, blr_short);
      Byte(blr, slot.scale);
      return;
    case SQL_LONG:
      Byte(blr, blr_long);
      Byte(blr, slot.scale);
      return;
    case SQL_INT64:
      Byte(blr, blr_int64);
      Byte(blr, slot.scale);
      return;
    case SQL_DOUBLE:
      Byte(blr, blr_double);
      return;
    case SQL_TYPE_DATE:
      Byte(blr, blr_sql_date);
      return;
    case SQL_TYPE_TIME:
      Byte(blr, blr_sql_time);
      return;
    case SQL_TIMESTAMP:
      Byte(blr, blr_timestamp);
      return;
    default:
      Byte(blr, blr_bool);
      return;
  }
}

const TSlot kFlag{SQL_SHORT, 2, 0, 0, SQL_SHORT};

// A name as a quoted SQL identifier.
std::string Quoted(const std::string& name) {
  std::string quoted = "\"";
  for (const char ch : name) {
    quoted += ch;
    if (ch == '"') {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

}  // namespace

// One thread, started with the first block sent in flight, that sends each
// message it is handed and keeps the server's answer for Wait.
struct TIBBlockStore::TCourier {
  std::mutex mutex;
  std::condition_variable changed;
  bool job = false;   // a message handed, not sent yet
  bool done = false;  // its answer is in `failed` and `error`
  bool stop = false;
  unsigned int handle = 0;
  unsigned int* transaction = nullptr;
  const char* message = nullptr;
  std::size_t length = 0;
  bool failed = false;
  fbdetail::StatusError error;
  std::thread thread;

  TCourier() : thread([this] { Run(); }) {}
  ~TCourier() {
    {
      const std::lock_guard<std::mutex> lock(mutex);
      stop = true;
    }
    changed.notify_all();
    thread.join();
  }

  void Run() {
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return job || stop; });
      if (job) {
        lock.unlock();
        ISC_STATUS* const status = fbdetail::StatusVector();
        const bool refused =
            fbdetail::Api().isc_start_and_send(
                status, &handle, transaction, 0,
                static_cast<short>(static_cast<unsigned short>(length)), message, 0) != 0;
        fbdetail::StatusError answer;
        if (refused) {
          answer = fbdetail::CaptureStatusError(status);
        }
        lock.lock();
        failed = refused;
        error = std::move(answer);
        job = false;
        done = true;
        changed.notify_all();
      } else {
        return;
      }
    }
  }
};

TIBBlockStore::TIBBlockStore(TIBDatabase& database, TIBTransaction& transaction, std::string table,
                             std::vector<std::string> columns, std::vector<TFieldType> types)
    : database_(&database),
      transaction_(transaction),
      table_(std::move(table)),
      columns_(std::move(columns)),
      types_(std::move(types)),
      values_(std::make_unique<fbdetail::TIBXSQLDA>()) {
  const fbdetail::ClientApi& api = fbdetail::Api();
  if (api.isc_compile_request == nullptr || api.isc_start_and_send == nullptr ||
      api.isc_release_request == nullptr || columns_.empty() || types_.size() != columns_.size()) {
    return;
  }
  // The columns as the server describes them to an insert's parameters.
  std::string text = "insert into " + Quoted(table_) + " (";
  std::string markers;
  std::vector<std::string> names;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    text += (c == 0 ? "" : ", ") + Quoted(columns_[c]);
    markers += c == 0 ? "?" : ", ?";
    names.push_back("C" + std::to_string(c));
  }
  text += ") values (" + markers + ")";
  {
    if (!transaction_.Active()) {
      transaction_.Start();
    }
    fbdetail::TIBSQL insert;
    insert.SetDatabase(database_);
    insert.SetTransaction(&transaction_);
    insert.Prepare(text, names);
    values_->SetCount(int(columns_.size()));
    for (int c = 0; c < int(columns_.size()); ++c) {
      (*values_)[c].Raw() = insert.Params()[c].Raw();
      (*values_)[c].KeepDescribedType();
    }
  }
  // Told when the attachment closes (its requests go with it); not before
  // the describe, which may throw and leave no object to tell.
  database_->AddDependent(this);
  std::size_t rowBytes = 0;
  std::size_t rowBlr = 8 + table_.size();  // one row's store, its message fields aside
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    const std::optional<TSlot> slot =
        SlotFor(types_[c], (*values_)[int(c)].Raw(), database_->SQLDialect());
    if (!slot) {
      slots_.clear();
      return;
    }
    slots_.push_back(*slot);
    rowBytes += Bytes(*slot) + Alignment(*slot) - 1 + Bytes(kFlag) + 1;
    rowBlr += 7 + 2 + 12 + columns_[c].size();
  }
  maxRows_ = std::min({kMaxRows, kMaxBytes / rowBytes, (kMaxBytes - 16) / rowBlr});
  usable_ = maxRows_ >= 2;
  if (!usable_) {
    maxRows_ = 0;
  }
}

TIBBlockStore::~TIBBlockStore() {
  WaitQuietly();
  courier_.reset();
  ReleaseAll();
  if (database_ != nullptr) {
    database_->RemoveDependent(this);
  }
}

TIBBlockStore::TRequest& TIBBlockStore::Layout(std::size_t rows) {
  for (TRequest& request : requests_) {
    if (request.rows == rows) {
      return request;
    }
  }
  TRequest request;
  request.rows = rows;
  const std::size_t columns = columns_.size();
  std::string& blr = request.blr;
  Byte(blr, blr_version5);
  Byte(blr, blr_begin);
  // Message 0: each value, then its null flag, row after row.
  Byte(blr, blr_message);
  Byte(blr, 0);
  Word(blr, rows * columns * 2);
  std::size_t offset = 0;
  request.offsets.clear();
  for (std::size_t r = 0; r < rows; ++r) {
    for (const TSlot& slot : slots_) {
      FieldType(blr, slot);
      offset = Align(offset, Alignment(slot));
      request.offsets.push_back(offset);
      offset += Bytes(slot);
      FieldType(blr, kFlag);
      offset = Align(offset, Alignment(kFlag));
      request.offsets.push_back(offset);
      offset += Bytes(kFlag);
    }
  }
  request.length = offset;
  // Receive it, then one store per row, each its own context.
  Byte(blr, blr_receive);
  Byte(blr, 0);
  Byte(blr, blr_begin);
  for (std::size_t r = 0; r < rows; ++r) {
    Byte(blr, blr_store);
    Byte(blr, blr_relation);
    Name(blr, table_);
    Byte(blr, int(r));
    Byte(blr, blr_begin);
    for (std::size_t c = 0; c < columns; ++c) {
      const std::size_t value = (r * columns + c) * 2;
      Byte(blr, blr_assignment);
      Byte(blr, blr_parameter2);
      Byte(blr, 0);
      Word(blr, value);
      Word(blr, value + 1);
      Byte(blr, blr_field);
      Byte(blr, int(r));
      Name(blr, columns_[c]);
    }
    Byte(blr, blr_end);
  }
  Byte(blr, blr_end);
  Byte(blr, blr_end);
  Byte(blr, blr_eoc);
  if (blr.size() > kMaxBytes || request.length > kMaxBytes) {
    throw std::length_error("block of " + std::to_string(rows) + " rows too large for a request");
  }
  requests_.push_back(std::move(request));
  return requests_.back();
}

void TIBBlockStore::Compile(TRequest& request) {
  if (request.handle != 0) {
    return;
  }
  // The client's lengths are 16 bits, declared signed and read unsigned.
  database_->CheckStatus(fbdetail::Api().isc_compile_request(
      fbdetail::StatusVector(), database_->Handle(), &request.handle,
      static_cast<short>(static_cast<unsigned short>(request.blr.size())), request.blr.data()));
}

bool TIBBlockStore::Compiled(std::size_t rows) const {
  return std::any_of(requests_.begin(), requests_.end(), [rows](const TRequest& request) {
    return request.rows == rows && request.handle != 0;
  });
}

void TIBBlockStore::Store(std::span<const std::vector<TValue>> rows) {
  Wait();
  Encode(rows);
  TRequest& request = Ready();
  database_->CheckStatus(fbdetail::Api().isc_start_and_send(
      fbdetail::StatusVector(), &request.handle, transaction_.Handle(), 0,
      static_cast<short>(static_cast<unsigned short>(request.length)),
      reinterpret_cast<const char*>(message_.data()), 0));
}

void TIBBlockStore::Encode(std::span<const std::vector<TValue>> rows) {
  encoded_ = nullptr;
  if (!usable_ || rows.empty() || rows.size() > maxRows_) {
    throw std::invalid_argument("TIBBlockStore: " + std::to_string(rows.size()) +
                                " rows for blocks of at most " + std::to_string(maxRows_));
  }
  if (database_ == nullptr) {
    fbdetail::RaiseClientError(24, "Database não associada");
  }
  TRequest& request = Layout(rows.size());
  message_.assign((request.length + 7) / 8, 0);
  char* const message = reinterpret_cast<char*>(message_.data());
  const fbdetail::StatementContext context{database_, &transaction_, database_->SQLDialect()};
  const std::size_t columns = columns_.size();
  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (rows[r].size() != columns) {
      throw std::invalid_argument("TIBBlockStore: a row of " + std::to_string(rows[r].size()) +
                                  " values for " + std::to_string(columns) + " columns");
    }
    for (std::size_t c = 0; c < columns; ++c) {
      fbdetail::TIBXSQLVAR& entry = (*values_)[int(c)];
      entry.SetValue(rows[r][c], types_[c], context);
      const XSQLVAR& written = entry.Raw();
      const TSlot& slot = slots_[c];
      char* const data = message + request.offsets[(r * columns + c) * 2];
      char* const flag = message + request.offsets[(r * columns + c) * 2 + 1];
      if (written.sqlind != nullptr && *written.sqlind < 0) {
        const short null = -1;
        std::memcpy(flag, &null, sizeof null);
        continue;
      }
      const short type = short(written.sqltype & ~1);
      if (type != slot.written || written.sqlscale != slot.scale ||
          (type == SQL_TEXT &&
           (written.sqllen > slot.length || written.sqlsubtype != slot.subtype))) {
        // Not what the message holds: the statement path takes the row.
        fbdetail::RaiseClientError(4, "Caracteristica não suportada");
      }
      if (type == SQL_TEXT) {
        const auto length = static_cast<std::uint16_t>(written.sqllen);
        std::memcpy(data, &length, sizeof length);
        std::memcpy(data + 2, written.sqldata, length);
      } else {
        std::memcpy(data, written.sqldata, Bytes(slot));
      }
    }
  }
  encoded_ = &request;
}

TIBBlockStore::TRequest& TIBBlockStore::Ready() {
  if (database_ == nullptr || !database_->Connected()) {
    fbdetail::RaiseClientError(24, "Database não associada");
  }
  if (!transaction_.Active()) {
    transaction_.Start();
  }
  TRequest& request = *encoded_;
  encoded_ = nullptr;
  Compile(request);
  return request;
}

void TIBBlockStore::Send() {
  if (encoded_ == nullptr || inFlight_) {
    throw std::logic_error("TIBBlockStore: nothing encoded, or a block still in flight");
  }
  TRequest& request = Ready();
  if (courier_ == nullptr) {
    courier_ = std::make_unique<TCourier>();
  }
  sending_.swap(message_);
  {
    const std::lock_guard<std::mutex> lock(courier_->mutex);
    courier_->handle = request.handle;
    courier_->transaction = transaction_.Handle();
    courier_->message = reinterpret_cast<const char*>(sending_.data());
    courier_->length = request.length;
    courier_->job = true;
    courier_->done = false;
  }
  courier_->changed.notify_all();
  inFlight_ = true;
}

void TIBBlockStore::Wait() {
  if (!inFlight_) {
    return;
  }
  fbdetail::StatusError error;
  bool failed = false;
  {
    std::unique_lock<std::mutex> lock(courier_->mutex);
    courier_->changed.wait(lock, [this] { return courier_->done; });
    failed = courier_->failed;
    error = std::move(courier_->error);
    courier_->done = false;
  }
  inFlight_ = false;
  if (failed) {
    database_->RaiseStatusError(error);
  }
}

void TIBBlockStore::WaitQuietly() noexcept {
  try {
    Wait();
  } catch (...) {
    // Leaving the block's attachment or the store: its answer has no taker.
  }
}

void TIBBlockStore::ReleaseAll() noexcept {
  if (database_ != nullptr && database_->Connected()) {
    const fbdetail::ClientApi& api = fbdetail::Api();
    for (TRequest& request : requests_) {
      if (request.handle != 0) {
        api.isc_release_request(fbdetail::StatusVector(), &request.handle);
      }
    }
  }
  requests_.clear();
  encoded_ = nullptr;
}

void TIBBlockStore::DatabaseClosing() {
  // Requests live in the attachment: compiled again on the next one.
  WaitQuietly();
  ReleaseAll();
}

void TIBBlockStore::DatabaseDestroyed() {
  WaitQuietly();
  requests_.clear();
  encoded_ = nullptr;
  database_ = nullptr;
}

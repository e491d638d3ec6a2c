#include "FakeClient.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

std::string Num(long long value) {
  return std::to_string(value);
}

std::string Handle(const unsigned int* handle) {
  return handle == nullptr ? std::string("null") : Num(*handle);
}

std::string Raw(const void* data, std::size_t length) {
  if (data == nullptr) {
    return std::string();
  }
  return std::string(static_cast<const char*>(data), length);
}

// Dynamic SQL passes a length of 0 for NUL-terminated text.
std::string SqlText(const char* text, unsigned short length) {
  if (text == nullptr) {
    return std::string();
  }
  return length == 0 ? std::string(text) : std::string(text, length);
}

void PutInteger(char*& out, long value, int length) {
  for (int i = 0; i < length; ++i) {
    *out++ = static_cast<char>((value >> (8 * i)) & 0xFF);
  }
}

// Days since 17 November 1858, as the client counts them.
int EncodeDay(const std::tm& time) {
  long day = time.tm_mday;
  long month = time.tm_mon + 1;
  long year = time.tm_year + 1900;
  if (month > 2) {
    month -= 3;
  } else {
    month += 9;
    year -= 1;
  }
  const long century = year / 100;
  const long yearOfCentury = year - 100 * century;
  return static_cast<int>((146097 * century) / 4 + (1461 * yearOfCentury) / 4 +
                          (153 * month + 2) / 5 + day + 1721119 - 2400001);
}

void DecodeDay(int days, std::tm& time) {
  const int wednesday = 3;  // 17 November 1858
  time.tm_wday = ((days % 7) + 7 + wednesday) % 7;
  long nday = days + 2400001 - 1721119;
  const long century = (4 * nday - 1) / 146097;
  nday = 4 * nday - 1 - 146097 * century;
  long day = nday / 4;
  nday = (4 * day + 3) / 1461;
  day = 4 * day + 3 - 1461 * nday;
  day = (day + 4) / 4;
  long month = (5 * day - 3) / 153;
  day = 5 * day - 3 - 153 * month;
  day = (day + 5) / 5;
  long year = 100 * century + nday;
  if (month < 10) {
    month += 3;
  } else {
    month -= 9;
    year += 1;
  }
  time.tm_mday = static_cast<int>(day);
  time.tm_mon = static_cast<int>(month - 1);
  time.tm_year = static_cast<int>(year - 1900);
  std::tm first = {};
  first.tm_mday = 1;
  first.tm_year = time.tm_year;
  time.tm_yday = days - EncodeDay(first);
  time.tm_isdst = 0;
}

ISC_TIME EncodeTime(const std::tm& time) {
  return static_cast<ISC_TIME>(((time.tm_hour * 60 + time.tm_min) * 60 + time.tm_sec) * 10000);
}

void DecodeTime(ISC_TIME value, std::tm& time) {
  const unsigned seconds = value / 10000;
  time.tm_hour = static_cast<int>(seconds / 3600);
  time.tm_min = static_cast<int>((seconds / 60) % 60);
  time.tm_sec = static_cast<int>(seconds % 60);
}

}  // namespace

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (const int byte : bytes) {
    text.push_back(static_cast<char>(byte));
  }
  return text;
}

std::string RenderArrayShape(const ISC_ARRAY_DESC& shape) {
  std::string text = std::string(shape.array_desc_relation_name) + "." +
                     shape.array_desc_field_name + " dtype=" + Num(shape.array_desc_dtype) +
                     " len=" + Num(shape.array_desc_length) + " ";
  for (int i = 0; i < shape.array_desc_dimensions && i < 16; ++i) {
    text += "[" + Num(shape.array_desc_bounds[i].array_bound_lower) + ":" +
            Num(shape.array_desc_bounds[i].array_bound_upper) + "]";
  }
  return text;
}

std::string RenderXsqlda(const XSQLDA* sqlda) {
  if (sqlda == nullptr) {
    return "null";
  }
  std::string text =
      "version=" + Num(sqlda->version) + " sqln=" + Num(sqlda->sqln) + " sqld=" + Num(sqlda->sqld);
  const int count = std::min<int>(sqlda->sqln, sqlda->sqld);
  for (int i = 0; i < count; ++i) {
    const XSQLVAR& var = sqlda->sqlvar[i];
    text += "\n[" + Num(i) + "] type=" + Num(var.sqltype) + " scale=" + Num(var.sqlscale) +
            " subtype=" + Num(var.sqlsubtype) + " len=" + Num(var.sqllen);
    text +=
        " null=" +
        std::string((var.sqltype & 1) && var.sqlind != nullptr && *var.sqlind == -1 ? "1" : "0");
    text += " name=" + std::string(var.sqlname, std::max<int>(0, var.sqlname_length)) +
            " alias=" + std::string(var.aliasname, std::max<int>(0, var.aliasname_length)) +
            " relation=" + std::string(var.relname, std::max<int>(0, var.relname_length));
    if (var.sqldata != nullptr) {
      std::size_t length = static_cast<std::size_t>(std::max<int>(0, var.sqllen));
      if ((var.sqltype & ~1) == SQL_VARYING) {
        length += 2;
      }
      text += " data=";
      char hex[3];
      for (std::size_t b = 0; b < length; ++b) {
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(var.sqldata[b]));
        text += hex;
      }
    }
  }
  return text;
}

FakeClient& Fake() {
  static FakeClient fake;
  return fake;
}

std::vector<FakeCall> FakeClient::CallsTo(const std::string& function) const {
  std::vector<FakeCall> found;
  for (const FakeCall& call : calls) {
    if (call.function == function) {
      found.push_back(call);
    }
  }
  return found;
}

std::vector<std::string> FakeClient::Names() const {
  std::vector<std::string> names;
  for (const FakeCall& call : calls) {
    names.push_back(call.function);
  }
  return names;
}

void FakeClient::FailOn(const std::string& function, const FakeFailure& failure) {
  const std::lock_guard<std::recursive_mutex> lock(mutex);
  queuedFailures.emplace_back(function, failure);
}

ISC_STATUS FakeClient::Fail(ISC_STATUS* status, const FakeFailure& failure) {
  const std::lock_guard<std::recursive_mutex> lock(mutex);
  std::vector<ISC_STATUS> codes = failure.codes;
  while (codes.size() < failure.lines.size()) {
    codes.push_back(isc_random);
  }
  if (codes.empty()) {
    codes.push_back(isc_random);
  }
  std::size_t i = 0;
  for (const ISC_STATUS code : codes) {
    if (i + 3 > ISC_STATUS_LENGTH) {
      break;
    }
    status[i++] = isc_arg_gds;
    status[i++] = code;
  }
  status[i] = isc_arg_end;
  messageLines = failure.lines;
  sqlCode = failure.sqlCode;
  failedStatus = status;
  return codes.front();
}

ISC_STATUS FakeClient::Ok(ISC_STATUS* status) {
  status[0] = isc_arg_gds;
  status[1] = 0;
  status[2] = isc_arg_end;
  return 0;
}

void FakeClient::Reset() {
  const std::lock_guard<std::recursive_mutex> lock(mutex);
  FakeClient& self = *this;
  self.calls.clear();
  self.queuedFailures.clear();
  self.messageLines.clear();
  self.serviceLines.clear();
  self.failedStatus = nullptr;
  self.dialect = 3;
  self.statementType = isc_info_sql_stmt_select;
  self.blobContent.clear();
  self.blobSegmentSize = 16384;
  self.blobWritten.clear();
  self.arrayShape = ISC_ARRAY_DESC{};
  self.arrayShape.array_desc_dtype = blr_long;
  self.arrayShape.array_desc_length = 4;
  self.arrayShape.array_desc_dimensions = 1;
  self.arrayShape.array_desc_bounds[0] = {1, 4};
  self.arrayContent.clear();
  self.arrayWritten.clear();
  self.blobReadPosition = 0;
  self.sqlCode = 0;
  self.nextHandle = 1000;
  self.isc_sqlcode = nullptr;
  self.isc_interprete = nullptr;
  self.isc_sql_interprete = nullptr;
  self.isc_vax_integer = nullptr;
  self.isc_open_blob2 = nullptr;
  self.isc_create_blob2 = nullptr;
  self.isc_get_segment = nullptr;
  self.isc_put_segment = nullptr;
  self.isc_close_blob = nullptr;
  self.isc_cancel_blob = nullptr;
  self.isc_blob_info = nullptr;
  self.isc_array_lookup_bounds = nullptr;
  self.isc_array_get_slice = nullptr;
  self.isc_array_put_slice = nullptr;
  self.isc_decode_date = nullptr;
  self.isc_encode_date = nullptr;
  self.isc_dsql_alloc_statement2 = nullptr;
  self.isc_dsql_prepare = nullptr;
  self.isc_dsql_sql_info = nullptr;
  self.isc_dsql_describe = nullptr;
  self.isc_dsql_describe_bind = nullptr;
  self.isc_dsql_execute = nullptr;
  self.isc_dsql_execute2 = nullptr;
  self.isc_dsql_execute_immediate = nullptr;
  self.isc_dsql_set_cursor_name = nullptr;
  self.isc_dsql_fetch = nullptr;
  self.isc_dsql_free_statement = nullptr;
  self.isc_attach_database = nullptr;
  self.isc_detach_database = nullptr;
  self.isc_database_info = nullptr;
  self.isc_drop_database = nullptr;
  self.isc_start_multiple = nullptr;
  self.isc_commit_transaction = nullptr;
  self.isc_commit_retaining = nullptr;
  self.isc_rollback_transaction = nullptr;
  self.isc_prepare_transaction = nullptr;
  self.isc_prepare_transaction2 = nullptr;
  self.isc_que_events = nullptr;
  self.isc_cancel_events = nullptr;
  self.isc_event_counts = nullptr;
  self.isc_wait_for_event = nullptr;
  self.isc_add_user = nullptr;
  self.isc_delete_user = nullptr;
  self.isc_modify_user = nullptr;
  self.isc_rollback_retaining = nullptr;
  self.isc_service_attach = nullptr;
  self.isc_service_detach = nullptr;
  self.isc_service_query = nullptr;
  self.isc_service_start = nullptr;
  self.isc_decode_sql_date = nullptr;
  self.isc_decode_sql_time = nullptr;
  self.isc_decode_timestamp = nullptr;
  self.isc_encode_sql_date = nullptr;
  self.isc_encode_sql_time = nullptr;
  self.isc_encode_timestamp = nullptr;
}

void FakeClient::Record(const char* function, std::vector<std::string> args) {
  const std::lock_guard<std::recursive_mutex> lock(mutex);
  calls.push_back(FakeCall{function, std::move(args)});
}

bool FakeClient::TakeFailure(const std::string& function, ISC_STATUS* status) {
  const std::lock_guard<std::recursive_mutex> lock(mutex);
  for (auto it = queuedFailures.begin(); it != queuedFailures.end(); ++it) {
    if (it->first == function) {
      const FakeFailure failure = it->second;
      queuedFailures.erase(it);
      Fail(status, failure);
      return true;
    }
  }
  return false;
}

// Every exported function: lock, record, then the override, a queued failure
// or the default answer, in that order.
#define FAKE_ENTRY(name, ...)                                \
  FakeClient& f = Fake();                                    \
  const std::lock_guard<std::recursive_mutex> lock(f.mutex); \
  f.Record(#name, {__VA_ARGS__})
#define FAKE_DECIDE(name, ...)        \
  if (f.name) {                       \
    return f.name(__VA_ARGS__);       \
  }                                   \
  if (f.TakeFailure(#name, status)) { \
    return status[1];                 \
  }

// ---- error text and integers ----------------------------------------------

ISC_LONG isc_sqlcode(const ISC_STATUS* status) {
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_sqlcode", {});
  if (f.isc_sqlcode) {
    return f.isc_sqlcode(status);
  }
  return f.sqlCode;
}

ISC_LONG isc_interprete(ISC_SCHAR* buffer, ISC_STATUS** cursor) {
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_interprete", {});
  if (f.isc_interprete) {
    return f.isc_interprete(buffer, cursor);
  }
  ISC_STATUS* at = *cursor;
  if (at == nullptr || at[0] == isc_arg_end || (at[0] == isc_arg_gds && at[1] == 0)) {
    return 0;
  }
  std::string line;
  const std::ptrdiff_t offset = f.failedStatus == nullptr ? -1 : at - f.failedStatus;
  if (offset >= 0 && offset < ISC_STATUS_LENGTH && offset % 2 == 0 &&
      static_cast<std::size_t>(offset / 2) < f.messageLines.size()) {
    line = f.messageLines[static_cast<std::size_t>(offset / 2)];
  } else {
    line = "error " + Num(at[1]);
  }
  std::memcpy(buffer, line.c_str(), line.size() + 1);
  *cursor = at + (at[0] == isc_arg_cstring ? 3 : 2);
  return static_cast<ISC_LONG>(line.size());
}

void isc_sql_interprete(short sqlCode, ISC_SCHAR* buffer, short length) {
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_sql_interprete", {Num(sqlCode), Num(length)});
  if (f.isc_sql_interprete) {
    f.isc_sql_interprete(sqlCode, buffer, length);
  } else if (length > 0) {
    buffer[0] = '\0';
  }
}

ISC_LONG isc_vax_integer(const ISC_SCHAR* bytes, short length) {
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_vax_integer", {Raw(bytes, length > 0 ? length : 0), Num(length)});
  if (f.isc_vax_integer) {
    return f.isc_vax_integer(bytes, length);
  }
  if (bytes == nullptr || length <= 0 || length > 4) {
    return 0;
  }
  // Little-endian, the last byte carrying the sign, as the real client reads it.
  ISC_LONG value = 0;
  int shift = 0;
  for (short i = 0; i + 1 < length; ++i) {
    value += static_cast<ISC_LONG>(static_cast<unsigned char>(bytes[i])) << shift;
    shift += 8;
  }
  value += static_cast<ISC_LONG>(static_cast<signed char>(bytes[length - 1])) * (1L << shift);
  return value;
}

// ---- blobs -------------------------------------------------------------------

static std::string BlobId(const ISC_QUAD* id) {
  if (id == nullptr) {
    return "null";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%x:%x", static_cast<unsigned>(id->gds_quad_high),
                static_cast<unsigned>(id->gds_quad_low));
  return text;
}

ISC_STATUS isc_open_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                          isc_blob_handle* blob, ISC_QUAD* id, ISC_USHORT bpbLength,
                          const ISC_UCHAR* bpb) {
  FAKE_ENTRY(isc_open_blob2, Handle(db), Handle(tr), Handle(blob), BlobId(id), Raw(bpb, bpbLength));
  FAKE_DECIDE(isc_open_blob2, status, db, tr, blob, id, bpbLength, bpb);
  *blob = f.NewHandle();
  f.blobReadPosition = 0;
  return f.Ok(status);
}

ISC_STATUS isc_create_blob2(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                            isc_blob_handle* blob, ISC_QUAD* id, short bpbLength,
                            const ISC_SCHAR* bpb) {
  FAKE_ENTRY(isc_create_blob2, Handle(db), Handle(tr), Handle(blob),
             Raw(bpb, bpbLength > 0 ? bpbLength : 0));
  FAKE_DECIDE(isc_create_blob2, status, db, tr, blob, id, bpbLength, bpb);
  *blob = f.NewHandle();
  id->gds_quad_high = 0x81;
  id->gds_quad_low = *blob;
  f.blobWritten.clear();
  return f.Ok(status);
}

ISC_STATUS isc_get_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short* got,
                           unsigned short length, ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_get_segment, Handle(blob), Num(length));
  FAKE_DECIDE(isc_get_segment, status, blob, got, length, buffer);
  const std::size_t left =
      f.blobContent.size() - std::min(f.blobReadPosition, f.blobContent.size());
  if (left == 0) {
    *got = 0;
    return f.Fail(status, {{isc_segstr_eof}, {"segment eof"}, -402});
  }
  const std::size_t segmentLeft =
      f.blobSegmentSize - (f.blobReadPosition % std::max<unsigned short>(1, f.blobSegmentSize));
  const std::size_t size = std::min({left, segmentLeft, static_cast<std::size_t>(length)});
  std::memcpy(buffer, f.blobContent.data() + f.blobReadPosition, size);
  f.blobReadPosition += size;
  *got = static_cast<unsigned short>(size);
  if (size < segmentLeft && size < left) {
    // Only part of the segment fitted: the real client reports isc_segment.
    f.Fail(status, {{isc_segment}, {"segment buffer length shorter than expected"}, -402});
    return isc_segment;
  }
  return f.Ok(status);
}

ISC_STATUS isc_put_segment(ISC_STATUS* status, isc_blob_handle* blob, unsigned short length,
                           const ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_put_segment, Handle(blob), Raw(buffer, length));
  FAKE_DECIDE(isc_put_segment, status, blob, length, buffer);
  f.blobWritten.append(buffer, length);
  return f.Ok(status);
}

ISC_STATUS isc_close_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  FAKE_ENTRY(isc_close_blob, Handle(blob));
  FAKE_DECIDE(isc_close_blob, status, blob);
  *blob = 0;
  return f.Ok(status);
}

ISC_STATUS isc_cancel_blob(ISC_STATUS* status, isc_blob_handle* blob) {
  FAKE_ENTRY(isc_cancel_blob, Handle(blob));
  FAKE_DECIDE(isc_cancel_blob, status, blob);
  if (blob != nullptr) {
    *blob = 0;
  }
  return f.Ok(status);
}

ISC_STATUS isc_blob_info(ISC_STATUS* status, isc_blob_handle* blob, short itemsLength,
                         const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_blob_info, Handle(blob), Raw(items, itemsLength > 0 ? itemsLength : 0),
             Num(bufferLength));
  FAKE_DECIDE(isc_blob_info, status, blob, itemsLength, items, bufferLength, buffer);
  const long total = static_cast<long>(f.blobContent.size());
  const long segment = std::max<long>(1, f.blobSegmentSize);
  char* out = buffer;
  for (short i = 0; i < itemsLength; ++i) {
    long value = 0;
    switch (items[i]) {
      case isc_info_blob_num_segments:
        value = (total + segment - 1) / segment;
        break;
      case isc_info_blob_max_segment:
        value = std::min(total, segment);
        break;
      case isc_info_blob_total_length:
        value = total;
        break;
      case isc_info_blob_type:
        value = 0;
        break;
      default:
        continue;
    }
    *out++ = items[i];
    PutInteger(out, 4, 2);
    PutInteger(out, value, 4);
  }
  *out = isc_info_end;
  return f.Ok(status);
}

// ---- arrays ------------------------------------------------------------------

ISC_STATUS isc_array_lookup_bounds(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                   const ISC_SCHAR* table, const ISC_SCHAR* column,
                                   ISC_ARRAY_DESC* shape) {
  FAKE_ENTRY(isc_array_lookup_bounds, Handle(db), Handle(tr), Raw(table, std::strlen(table)),
             Raw(column, std::strlen(column)));
  FAKE_DECIDE(isc_array_lookup_bounds, status, db, tr, table, column, shape);
  *shape = f.arrayShape;
  std::snprintf(shape->array_desc_relation_name, sizeof shape->array_desc_relation_name, "%s",
                table);
  std::snprintf(shape->array_desc_field_name, sizeof shape->array_desc_field_name, "%s", column);
  return f.Ok(status);
}

ISC_STATUS isc_array_get_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                               ISC_QUAD* id, const ISC_ARRAY_DESC* shape, void* slice,
                               ISC_LONG* length) {
  FAKE_ENTRY(isc_array_get_slice, Handle(db), Handle(tr), BlobId(id), RenderArrayShape(*shape),
             Num(*length));
  FAKE_DECIDE(isc_array_get_slice, status, db, tr, id, shape, slice, length);
  const std::size_t size = std::min(f.arrayContent.size(), static_cast<std::size_t>(*length));
  std::memcpy(slice, f.arrayContent.data(), size);
  *length = static_cast<ISC_LONG>(size);
  return f.Ok(status);
}

ISC_STATUS isc_array_put_slice(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                               ISC_QUAD* id, const ISC_ARRAY_DESC* shape, void* slice,
                               ISC_LONG* length) {
  FAKE_ENTRY(isc_array_put_slice, Handle(db), Handle(tr), BlobId(id), RenderArrayShape(*shape),
             Raw(slice, static_cast<std::size_t>(*length)));
  FAKE_DECIDE(isc_array_put_slice, status, db, tr, id, shape, slice, length);
  f.arrayWritten = Raw(slice, static_cast<std::size_t>(*length));
  id->gds_quad_high = 0x82;
  id->gds_quad_low = f.NewHandle();
  return f.Ok(status);
}

// ---- dates -------------------------------------------------------------------

void isc_decode_date(const ISC_QUAD* date, void* time) {
  FakeClient& f = Fake();
  if (f.isc_decode_date) {
    f.isc_decode_date(date, time);
    return;
  }
  std::tm& out = *static_cast<std::tm*>(time);
  out = std::tm{};
  DecodeDay(date->gds_quad_high, out);
  DecodeTime(date->gds_quad_low, out);
}

void isc_encode_date(const void* time, ISC_QUAD* date) {
  FakeClient& f = Fake();
  if (f.isc_encode_date) {
    f.isc_encode_date(time, date);
    return;
  }
  const std::tm& in = *static_cast<const std::tm*>(time);
  date->gds_quad_high = EncodeDay(in);
  date->gds_quad_low = EncodeTime(in);
}

#ifndef FAKE_CLIENT_VERSION5
void isc_decode_sql_date(const ISC_DATE* date, void* time) {
  FakeClient& f = Fake();
  if (f.isc_decode_sql_date) {
    f.isc_decode_sql_date(date, time);
    return;
  }
  std::tm& out = *static_cast<std::tm*>(time);
  out = std::tm{};
  DecodeDay(*date, out);
}

void isc_decode_sql_time(const ISC_TIME* value, void* time) {
  FakeClient& f = Fake();
  if (f.isc_decode_sql_time) {
    f.isc_decode_sql_time(value, time);
    return;
  }
  std::tm& out = *static_cast<std::tm*>(time);
  out = std::tm{};
  DecodeTime(*value, out);
}

void isc_decode_timestamp(const ISC_TIMESTAMP* stamp, void* time) {
  FakeClient& f = Fake();
  if (f.isc_decode_timestamp) {
    f.isc_decode_timestamp(stamp, time);
    return;
  }
  std::tm& out = *static_cast<std::tm*>(time);
  out = std::tm{};
  DecodeDay(stamp->timestamp_date, out);
  DecodeTime(stamp->timestamp_time, out);
}

void isc_encode_sql_date(const void* time, ISC_DATE* date) {
  FakeClient& f = Fake();
  if (f.isc_encode_sql_date) {
    f.isc_encode_sql_date(time, date);
    return;
  }
  *date = EncodeDay(*static_cast<const std::tm*>(time));
}

void isc_encode_sql_time(const void* time, ISC_TIME* value) {
  FakeClient& f = Fake();
  if (f.isc_encode_sql_time) {
    f.isc_encode_sql_time(time, value);
    return;
  }
  *value = EncodeTime(*static_cast<const std::tm*>(time));
}

void isc_encode_timestamp(const void* time, ISC_TIMESTAMP* stamp) {
  FakeClient& f = Fake();
  if (f.isc_encode_timestamp) {
    f.isc_encode_timestamp(time, stamp);
    return;
  }
  const std::tm& in = *static_cast<const std::tm*>(time);
  stamp->timestamp_date = EncodeDay(in);
  stamp->timestamp_time = EncodeTime(in);
}
#endif

// ---- dynamic SQL -------------------------------------------------------------

ISC_STATUS isc_dsql_alloc_statement2(ISC_STATUS* status, isc_db_handle* db,
                                     isc_stmt_handle* statement) {
  FAKE_ENTRY(isc_dsql_alloc_statement2, Handle(db), Handle(statement));
  FAKE_DECIDE(isc_dsql_alloc_statement2, status, db, statement);
  *statement = f.NewHandle();
  return f.Ok(status);
}

ISC_STATUS isc_dsql_prepare(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* statement,
                            unsigned short length, const ISC_SCHAR* sql, unsigned short dialect,
                            XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_prepare, Handle(tr), Handle(statement), SqlText(sql, length), Num(dialect),
             RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_prepare, status, tr, statement, length, sql, dialect, sqlda);
  if (sqlda != nullptr) {
    sqlda->sqld = 0;
  }
  return f.Ok(status);
}

ISC_STATUS isc_dsql_sql_info(ISC_STATUS* status, isc_stmt_handle* statement, short itemsLength,
                             const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_dsql_sql_info, Handle(statement), Raw(items, itemsLength > 0 ? itemsLength : 0),
             Num(bufferLength));
  FAKE_DECIDE(isc_dsql_sql_info, status, statement, itemsLength, items, bufferLength, buffer);
  char* out = buffer;
  for (short i = 0; i < itemsLength; ++i) {
    if (items[i] == isc_info_sql_stmt_type && bufferLength >= 8) {
      *out++ = isc_info_sql_stmt_type;
      PutInteger(out, 4, 2);
      PutInteger(out, f.statementType, 4);
    }
  }
  *out = isc_info_end;
  return f.Ok(status);
}

ISC_STATUS isc_dsql_describe(ISC_STATUS* status, isc_stmt_handle* statement, unsigned short dialect,
                             XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_describe, Handle(statement), Num(dialect), RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_describe, status, statement, dialect, sqlda);
  if (sqlda != nullptr) {
    sqlda->sqld = 0;
  }
  return f.Ok(status);
}

ISC_STATUS isc_dsql_describe_bind(ISC_STATUS* status, isc_stmt_handle* statement,
                                  unsigned short dialect, XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_describe_bind, Handle(statement), Num(dialect), RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_describe_bind, status, statement, dialect, sqlda);
  if (sqlda != nullptr) {
    sqlda->sqld = 0;
  }
  return f.Ok(status);
}

ISC_STATUS isc_dsql_execute(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* statement,
                            unsigned short dialect, const XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_execute, Handle(tr), Handle(statement), Num(dialect), RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_execute, status, tr, statement, dialect, sqlda);
  return f.Ok(status);
}

ISC_STATUS isc_dsql_execute2(ISC_STATUS* status, isc_tr_handle* tr, isc_stmt_handle* statement,
                             unsigned short dialect, const XSQLDA* in, const XSQLDA* out) {
  FAKE_ENTRY(isc_dsql_execute2, Handle(tr), Handle(statement), Num(dialect), RenderXsqlda(in),
             RenderXsqlda(out));
  FAKE_DECIDE(isc_dsql_execute2, status, tr, statement, dialect, in, out);
  return f.Ok(status);
}

ISC_STATUS isc_dsql_execute_immediate(ISC_STATUS* status, isc_db_handle* db, isc_tr_handle* tr,
                                      unsigned short length, const ISC_SCHAR* sql,
                                      unsigned short dialect, const XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_execute_immediate, Handle(db), Handle(tr), SqlText(sql, length), Num(dialect),
             RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_execute_immediate, status, db, tr, length, sql, dialect, sqlda);
  return f.Ok(status);
}

ISC_STATUS isc_dsql_set_cursor_name(ISC_STATUS* status, isc_stmt_handle* statement,
                                    const ISC_SCHAR* name, unsigned short type) {
  FAKE_ENTRY(isc_dsql_set_cursor_name, Handle(statement), SqlText(name, 0), Num(type));
  FAKE_DECIDE(isc_dsql_set_cursor_name, status, statement, name, type);
  return f.Ok(status);
}

ISC_STATUS isc_dsql_fetch(ISC_STATUS* status, isc_stmt_handle* statement, unsigned short dialect,
                          const XSQLDA* sqlda) {
  FAKE_ENTRY(isc_dsql_fetch, Handle(statement), Num(dialect), RenderXsqlda(sqlda));
  FAKE_DECIDE(isc_dsql_fetch, status, statement, dialect, sqlda);
  f.Ok(status);
  return 100;
}

ISC_STATUS isc_dsql_free_statement(ISC_STATUS* status, isc_stmt_handle* statement,
                                   unsigned short option) {
  FAKE_ENTRY(isc_dsql_free_statement, Handle(statement), Num(option));
  FAKE_DECIDE(isc_dsql_free_statement, status, statement, option);
  if (option == DSQL_drop) {
    *statement = 0;
  }
  return f.Ok(status);
}

// ---- attachment --------------------------------------------------------------

ISC_STATUS isc_attach_database(ISC_STATUS* status, short length, const ISC_SCHAR* name,
                               isc_db_handle* db, short dpbLength, const ISC_SCHAR* dpb) {
  FAKE_ENTRY(isc_attach_database, length == 0 ? SqlText(name, 0) : Raw(name, length), Handle(db),
             Raw(dpb, dpbLength > 0 ? dpbLength : 0));
  FAKE_DECIDE(isc_attach_database, status, length, name, db, dpbLength, dpb);
  *db = f.NewHandle();
  return f.Ok(status);
}

ISC_STATUS isc_detach_database(ISC_STATUS* status, isc_db_handle* db) {
  FAKE_ENTRY(isc_detach_database, Handle(db));
  FAKE_DECIDE(isc_detach_database, status, db);
  *db = 0;
  return f.Ok(status);
}

ISC_STATUS isc_database_info(ISC_STATUS* status, isc_db_handle* db, short itemsLength,
                             const ISC_SCHAR* items, short bufferLength, ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_database_info, Handle(db), Raw(items, itemsLength > 0 ? itemsLength : 0),
             Num(bufferLength));
  FAKE_DECIDE(isc_database_info, status, db, itemsLength, items, bufferLength, buffer);
  char* out = buffer;
  for (short i = 0; i < itemsLength; ++i) {
    if (items[i] == isc_info_db_sql_dialect) {
      *out++ = isc_info_db_sql_dialect;
      PutInteger(out, 1, 2);
      PutInteger(out, f.dialect, 1);
    }
  }
  *out = isc_info_end;
  return f.Ok(status);
}

#ifndef FAKE_CLIENT_BROKEN
ISC_STATUS isc_drop_database(ISC_STATUS* status, isc_db_handle* db) {
  FAKE_ENTRY(isc_drop_database, Handle(db));
  FAKE_DECIDE(isc_drop_database, status, db);
  *db = 0;
  return f.Ok(status);
}
#endif

// ---- transactions ------------------------------------------------------------

// The vector isc_start_multiple reads, one entry per database.
struct FakeTransactionElement {
  isc_db_handle* database;
  int tpbLength;
  const ISC_UCHAR* tpb;
};

ISC_STATUS isc_start_multiple(ISC_STATUS* status, isc_tr_handle* tr, short count, void* elements) {
  std::vector<std::string> args{Handle(tr), Num(count)};
  const auto* entries = static_cast<const FakeTransactionElement*>(elements);
  for (short i = 0; i < count && entries != nullptr; ++i) {
    args.push_back(Handle(entries[i].database));
    args.push_back(Raw(entries[i].tpb, entries[i].tpbLength > 0 ? entries[i].tpbLength : 0));
  }
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_start_multiple", std::move(args));
  FAKE_DECIDE(isc_start_multiple, status, tr, count, elements);
  *tr = f.NewHandle();
  return f.Ok(status);
}

ISC_STATUS isc_commit_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  FAKE_ENTRY(isc_commit_transaction, Handle(tr));
  FAKE_DECIDE(isc_commit_transaction, status, tr);
  *tr = 0;
  return f.Ok(status);
}

ISC_STATUS isc_commit_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
  FAKE_ENTRY(isc_commit_retaining, Handle(tr));
  FAKE_DECIDE(isc_commit_retaining, status, tr);
  return f.Ok(status);
}

ISC_STATUS isc_rollback_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  FAKE_ENTRY(isc_rollback_transaction, Handle(tr));
  FAKE_DECIDE(isc_rollback_transaction, status, tr);
  *tr = 0;
  return f.Ok(status);
}

ISC_STATUS isc_prepare_transaction(ISC_STATUS* status, isc_tr_handle* tr) {
  FAKE_ENTRY(isc_prepare_transaction, Handle(tr));
  FAKE_DECIDE(isc_prepare_transaction, status, tr);
  return f.Ok(status);
}

ISC_STATUS isc_prepare_transaction2(ISC_STATUS* status, isc_tr_handle* tr, ISC_USHORT length,
                                    const ISC_UCHAR* message) {
  FAKE_ENTRY(isc_prepare_transaction2, Handle(tr), Raw(message, length));
  FAKE_DECIDE(isc_prepare_transaction2, status, tr, length, message);
  return f.Ok(status);
}

#ifndef FAKE_CLIENT_VERSION5
ISC_STATUS isc_rollback_retaining(ISC_STATUS* status, isc_tr_handle* tr) {
  FAKE_ENTRY(isc_rollback_retaining, Handle(tr));
  FAKE_DECIDE(isc_rollback_retaining, status, tr);
  return f.Ok(status);
}
#endif

// ---- events and users (bound, never used) ------------------------------------

ISC_STATUS isc_que_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* id, short length,
                          const ISC_UCHAR* events, ISC_EVENT_CALLBACK callback, void* argument) {
  FAKE_ENTRY(isc_que_events, Handle(db), Raw(events, length > 0 ? length : 0));
  FAKE_DECIDE(isc_que_events, status, db, id, length, events, callback, argument);
  return f.Ok(status);
}

ISC_STATUS isc_cancel_events(ISC_STATUS* status, isc_db_handle* db, ISC_LONG* id) {
  FAKE_ENTRY(isc_cancel_events, Handle(db));
  FAKE_DECIDE(isc_cancel_events, status, db, id);
  return f.Ok(status);
}

void isc_event_counts(ISC_ULONG* counts, short length, ISC_UCHAR* before, const ISC_UCHAR* after) {
  FakeClient& f = Fake();
  const std::lock_guard<std::recursive_mutex> lock(f.mutex);
  f.Record("isc_event_counts", {Num(length)});
  if (f.isc_event_counts) {
    f.isc_event_counts(counts, length, before, after);
  }
}

ISC_STATUS isc_wait_for_event(ISC_STATUS* status, isc_db_handle* db, short length,
                              const ISC_UCHAR* events, ISC_UCHAR* buffer) {
  FAKE_ENTRY(isc_wait_for_event, Handle(db), Raw(events, length > 0 ? length : 0));
  FAKE_DECIDE(isc_wait_for_event, status, db, length, events, buffer);
  return f.Ok(status);
}

ISC_STATUS isc_add_user(ISC_STATUS* status, const USER_SEC_DATA* data) {
  FAKE_ENTRY(isc_add_user, );
  FAKE_DECIDE(isc_add_user, status, data);
  return f.Ok(status);
}

ISC_STATUS isc_delete_user(ISC_STATUS* status, const USER_SEC_DATA* data) {
  FAKE_ENTRY(isc_delete_user, );
  FAKE_DECIDE(isc_delete_user, status, data);
  return f.Ok(status);
}

ISC_STATUS isc_modify_user(ISC_STATUS* status, const USER_SEC_DATA* data) {
  FAKE_ENTRY(isc_modify_user, );
  FAKE_DECIDE(isc_modify_user, status, data);
  return f.Ok(status);
}

// ---- services ----------------------------------------------------------------

#ifndef FAKE_CLIENT_VERSION5
ISC_STATUS isc_service_attach(ISC_STATUS* status, unsigned short length, const ISC_SCHAR* name,
                              isc_svc_handle* service, unsigned short spbLength,
                              const ISC_SCHAR* spb) {
  FAKE_ENTRY(isc_service_attach, length == 0 ? SqlText(name, 0) : Raw(name, length),
             Handle(service), Raw(spb, spbLength));
  FAKE_DECIDE(isc_service_attach, status, length, name, service, spbLength, spb);
  *service = f.NewHandle();
  return f.Ok(status);
}

ISC_STATUS isc_service_detach(ISC_STATUS* status, isc_svc_handle* service) {
  FAKE_ENTRY(isc_service_detach, Handle(service));
  FAKE_DECIDE(isc_service_detach, status, service);
  *service = 0;
  return f.Ok(status);
}

ISC_STATUS isc_service_query(ISC_STATUS* status, isc_svc_handle* service, isc_resv_handle* reserved,
                             unsigned short sendLength, const ISC_SCHAR* send,
                             unsigned short requestLength, const ISC_SCHAR* request,
                             unsigned short bufferLength, ISC_SCHAR* buffer) {
  FAKE_ENTRY(isc_service_query, Handle(service), Raw(send, sendLength), Raw(request, requestLength),
             Num(bufferLength));
  FAKE_DECIDE(isc_service_query, status, service, reserved, sendLength, send, requestLength,
              request, bufferLength, buffer);
  std::string line;
  if (!f.serviceLines.empty()) {
    line = f.serviceLines.front();
    f.serviceLines.pop_front();
  }
  if (line.size() + 4 > bufferLength) {
    line.resize(bufferLength >= 4 ? bufferLength - 4u : 0u);
  }
  char* out = buffer;
  *out++ = isc_info_svc_line;
  PutInteger(out, static_cast<long>(line.size()), 2);
  std::memcpy(out, line.data(), line.size());
  out += line.size();
  *out = isc_info_end;
  return f.Ok(status);
}

ISC_STATUS isc_service_start(ISC_STATUS* status, isc_svc_handle* service, isc_resv_handle* reserved,
                             unsigned short length, const ISC_SCHAR* request) {
  FAKE_ENTRY(isc_service_start, Handle(service), Raw(request, length));
  FAKE_DECIDE(isc_service_start, status, service, reserved, length, request);
  return f.Ok(status);
}
#endif

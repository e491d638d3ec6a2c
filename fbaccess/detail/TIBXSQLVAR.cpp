#include "fbaccess/detail/TIBXSQLVAR.h"

#include <strings.h>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <ctime>
#include <string_view>

#include "fbaccess/EDatabaseError.h"
#include "fbaccess/detail/ArrayIO.h"
#include "fbaccess/detail/BlobIO.h"
#include "fbaccess/detail/ClientApi.h"
#include "fbaccess/detail/TIBXSQLDA.h"

namespace fbdetail {

namespace {

template <typename T>
T Load(const char* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void Store(char* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

std::int64_t Pow10(int n) {
  std::int64_t r = 1;
  while (n-- > 0) {
    r *= 10;
  }
  return r;
}

// A scaled integer as value × 10000, rounding half away from zero.
std::int64_t ToDecimal(std::int64_t raw, int scale) {
  const int shift = 4 + scale;  // scale is negative or zero here
  if (shift >= 0) {
    return raw * Pow10(shift);
  }
  const std::int64_t d = Pow10(-shift);
  return (raw >= 0 ? raw + d / 2 : raw - d / 2) / d;
}

std::int64_t RawInteger(const XSQLVAR& meta, const char* data) {
  switch (meta.sqltype & ~1) {
    case SQL_SHORT:
      return Load<std::int16_t>(data);
    case SQL_LONG:
      return Load<std::int32_t>(data);
    default:
      return Load<std::int64_t>(data);
  }
}

// The server counts days from 1858-11-17 in the proleptic Gregorian calendar
// and times of day in ten-thousandths of a second. Dates and times are
// decoded for every fetched row, so values of the years 1 to 9999 and of one
// day are worked out here; anything else goes to the client's own decoding.
constexpr ISC_DATE kFirstDay = -678575;  // 0001-01-01
constexpr ISC_DATE kLastDay = 2973483;   // 9999-12-31
constexpr ISC_TIME kDayTicks = 24 * 3600 * 10000;

TDate DecodeDate(ISC_DATE d) {
  if (d >= kFirstDay && d <= kLastDay) {
    // Days from 0000-03-01, then 400-year eras, years starting in March.
    const std::uint32_t z = std::uint32_t(d + 678881);
    const std::uint32_t era = z / 146097;
    const std::uint32_t doe = z - era * 146097;
    const std::uint32_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::uint32_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::uint32_t mp = (5 * doy + 2) / 153;
    const int day = int(doy - (153 * mp + 2) / 5 + 1);
    const int month = int(mp < 10 ? mp + 3 : mp - 9);
    return TDate{int(yoe + era * 400) + (month <= 2 ? 1 : 0), month, day};
  }
  std::tm t{};
  Api().isc_decode_sql_date(&d, &t);
  return TDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday};
}

TTime DecodeTime(ISC_TIME v) {
  if (v < kDayTicks) {
    const ISC_TIME seconds = v / 10000;
    return TTime{int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60), int(v % 10000)};
  }
  std::tm t{};
  Api().isc_decode_sql_time(&v, &t);
  return TTime{t.tm_hour, t.tm_min, t.tm_sec, int(v % 10000)};
}

TDateTime DecodeTimestamp(const ISC_TIMESTAMP& ts) {
  if (ts.timestamp_date >= kFirstDay && ts.timestamp_date <= kLastDay &&
      ts.timestamp_time < kDayTicks) {
    return TDateTime{DecodeDate(ts.timestamp_date), DecodeTime(ts.timestamp_time)};
  }
  std::tm t{};
  Api().isc_decode_timestamp(&ts, &t);
  return TDateTime{TDate{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday},
                   TTime{t.tm_hour, t.tm_min, t.tm_sec, int(ts.timestamp_time % 10000)}};
}

std::tm ToTm(const TDateTime& dt) {
  std::tm t{};
  t.tm_year = dt.Date.Year - 1900;
  t.tm_mon = dt.Date.Month - 1;
  t.tm_mday = dt.Date.Day;
  t.tm_hour = dt.Time.Hour;
  t.tm_min = dt.Time.Minute;
  t.tm_sec = dt.Time.Second;
  return t;
}

std::string_view TextView(const XSQLVAR& meta, const char* data) {
  const char* p = data;
  std::size_t len = std::size_t(meta.sqllen);
  if ((meta.sqltype & ~1) == SQL_VARYING) {
    len = std::min<std::size_t>(Load<std::uint16_t>(data), len);
    p = data + 2;
  }
  // Up to the first NUL byte; CHAR keeps its trailing blanks.
  const void* nul = std::memchr(p, 0, len);
  if (nul != nullptr) {
    len = std::size_t(static_cast<const char*>(nul) - p);
  }
  return std::string_view(p, len);
}

// Replaces the text of `out`; its storage is kept once large enough, so
// texts of a column read row after row are not allocated again.
void SetText(std::string& out, const char* text, std::size_t size) {
  out.resize(size);
  std::memcpy(out.data(), text, size);
}

[[noreturn]] void OutOfRange(const TValue& value) {
  throw EDatabaseError("Valor fora da faixa do parâmetro: " + value.AsString());
}

bool IsDbKeyName(const std::string& name) {
  return name == "DB_KEY" || name == "RDB$DB_KEY";
}

}  // namespace

XSQLVAR& TIBXSQLVAR::Raw() {
  return owner_->Area()->sqlvar[index_];
}
const XSQLVAR& TIBXSQLVAR::Raw() const {
  return static_cast<const TIBXSQLDA*>(owner_)->Area()->sqlvar[index_];
}

std::string TIBXSQLVAR::AliasName() const {
  const XSQLVAR& v = Raw();
  return std::string(v.aliasname, std::size_t(std::clamp<short>(v.aliasname_length, 0, 32)));
}
std::string TIBXSQLVAR::SqlName() const {
  const XSQLVAR& v = Raw();
  return std::string(v.sqlname, std::size_t(std::clamp<short>(v.sqlname_length, 0, 32)));
}
std::string TIBXSQLVAR::RelName() const {
  const XSQLVAR& v = Raw();
  return std::string(v.relname, std::size_t(std::clamp<short>(v.relname_length, 0, 32)));
}

void TIBXSQLVAR::KeepDescribedType() {
  XSQLVAR& v = Raw();
  declType_ = short(v.sqltype & ~1);
  declLen_ = v.sqllen;
  declScale_ = v.sqlscale;
  declSubType_ = v.sqlsubtype;
  arrayShape_.reset();
  // Until a value is written the entry is sent as null.
  Reserve(declType_, declLen_, declScale_);
  SetNull();
}

char* TIBXSQLVAR::Reserve(short sqltype, short length, short scale) {
  XSQLVAR& v = Raw();
  std::size_t bytes = std::size_t(length < 0 ? 0 : length);
  if (sqltype == SQL_VARYING) {
    bytes += 2;
  }
  const std::size_t words = (bytes + 7) / 8 + 1;
  if (buffer_.size() < words) {
    buffer_.resize(words);
  }
  v.sqltype = short(sqltype | 1);
  v.sqllen = length;
  v.sqlscale = scale;
  v.sqldata = reinterpret_cast<char*>(buffer_.data());
  v.sqlind = &ind_;
  ind_ = 0;
  return v.sqldata;
}

void TIBXSQLVAR::SetNull() {
  XSQLVAR& v = Raw();
  v.sqltype = short(v.sqltype | 1);
  v.sqlind = &ind_;
  ind_ = -1;
}

void TIBXSQLVAR::SetValue(const TValue& value, TFieldType type, const StatementContext& ctx) {
  WriteValue(value, type, ctx);
  if (name_.empty()) {
    return;
  }
  for (int i = 0; i < owner_->Count(); ++i) {
    TIBXSQLVAR& other = (*owner_)[i];
    if (i != index_ && strcasecmp(other.name_.c_str(), name_.c_str()) == 0) {
      other.WriteValue(value, type, ctx);
    }
  }
}

void TIBXSQLVAR::WriteText(const std::string& text, bool raw, const StatementContext& ctx) {
  XSQLVAR& v = Raw();
  const bool textEntry = declType_ == SQL_TEXT || declType_ == SQL_VARYING;
  if (declType_ == SQL_BLOB) {
    const ISC_QUAD id = WriteBlob(ctx, text);
    Store(Reserve(SQL_BLOB, sizeof(ISC_QUAD), 0), id);
    v.sqlsubtype = declSubType_;
    return;
  }
  if (textEntry) {
    if (text.size() > std::size_t(declLen_)) {
      RaiseClientError(119, "Tentando armazenar uma string de tamanho " +
                                std::to_string(text.size()) + " em um campo que só pode conter " +
                                std::to_string(declLen_));
    }
    if (IsDbKeyName(SqlName())) {
      // A record key travels as its raw bytes in the declared entry.
      char* p = Reserve(declType_, declLen_, declScale_);
      std::memset(p, 0, std::size_t(declLen_) + (declType_ == SQL_VARYING ? 2 : 0));
      if (declType_ == SQL_VARYING) {
        Store(p, std::uint16_t(text.size()));
        p += 2;
      }
      std::memcpy(p, text.data(), text.size());
      v.sqlsubtype = declSubType_;
      return;
    }
  } else if (text.empty()) {
    SetNull();
    return;
  } else if (!raw && (declType_ == SQL_TYPE_DATE || declType_ == SQL_TYPE_TIME ||
                      declType_ == SQL_TIMESTAMP)) {
    WriteValue(TValue(TValue(text).AsDateTime()), TFieldType::DateTime, ctx);
    return;
  }
  if (text.size() > 32767) {
    RaiseClientError(119, "Tentando armazenar uma string de tamanho " +
                              std::to_string(text.size()) +
                              " em um campo que só pode conter 32767");
  }
  char* p = Reserve(SQL_TEXT, short(text.size()), 0);
  std::memcpy(p, text.data(), text.size());
  v.sqlsubtype = textEntry ? declSubType_ : 0;
}

const ISC_ARRAY_DESC& TIBXSQLVAR::ArrayShape(const StatementContext& ctx) const {
  if (!arrayShape_) {
    arrayShape_ = LookUpArray(ctx, RelName(), SqlName());
  }
  return *arrayShape_;
}

void TIBXSQLVAR::WriteValue(const TValue& value, TFieldType type, const StatementContext& ctx) {
  if (value.IsNull()) {
    SetNull();
    return;
  }
  if (declType_ == SQL_ARRAY) {
    // Only an array's whole content, as read from a column of the same shape.
    if (value.Kind() != TValueKind::Bytes) {
      RaiseClientError(4, "Caracteristica não suportada");
    }
    const ISC_QUAD id = WriteArray(ctx, ArrayShape(ctx), value.AsBytes());
    Store(Reserve(SQL_ARRAY, sizeof(ISC_QUAD), 0), id);
    Raw().sqlsubtype = declSubType_;
    return;
  }
  XSQLVAR& v = Raw();
  const ClientApi& api = Api();
  switch (type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Blob:
    case TFieldType::Memo:
      WriteText(value.AsString(), false, ctx);
      return;
    case TFieldType::Bytes: {
      const TBytes bytes = value.AsBytes();
      WriteText(std::string(bytes.begin(), bytes.end()), true, ctx);
      return;
    }
    case TFieldType::Boolean:
      if (declType_ == SQL_BOOLEAN) {
        // The server converts no number into a BOOLEAN column.
        Store(Reserve(SQL_BOOLEAN, 1, 0), static_cast<std::uint8_t>(value.AsBool() ? 1 : 0));
        v.sqlsubtype = 0;
        return;
      }
      [[fallthrough]];
    case TFieldType::Smallint:
    case TFieldType::Word: {
      const std::int64_t n =
          type == TFieldType::Boolean ? (value.AsBool() ? 1 : 0) : value.AsInt64();
      if (n < INT16_MIN || n > INT16_MAX) {
        OutOfRange(value);
      }
      Store(Reserve(SQL_SHORT, 2, 0), std::int16_t(n));
      v.sqlsubtype = 0;
      return;
    }
    case TFieldType::Integer: {
      const std::int64_t n = value.AsInt64();
      if (n < INT32_MIN || n > INT32_MAX) {
        OutOfRange(value);
      }
      Store(Reserve(SQL_LONG, 4, 0), std::int32_t(n));
      v.sqlsubtype = 0;
      return;
    }
    case TFieldType::LargeInt:
      Store(Reserve(SQL_INT64, 8, 0), value.AsInt64());
      v.sqlsubtype = 0;
      return;
    case TFieldType::Float:
      Store(Reserve(SQL_DOUBLE, 8, 0), value.AsDouble());
      v.sqlsubtype = 0;
      return;
    case TFieldType::Currency:
    case TFieldType::BCD:
      if (ctx.Dialect >= 3) {
        Store(Reserve(SQL_INT64, 8, -4), value.AsDecimal().Scaled);
      } else {
        Store(Reserve(SQL_DOUBLE, 8, 0), double(value.AsDecimal().Scaled) / 10000.0);
      }
      v.sqlsubtype = 0;
      return;
    case TFieldType::Date:
    case TFieldType::Time:
      if (ctx.Dialect >= 3) {
        const std::tm t = ToTm(value.AsDateTime());
        if (type == TFieldType::Date) {
          ISC_DATE d = 0;
          api.isc_encode_sql_date(&t, &d);
          Store(Reserve(SQL_TYPE_DATE, sizeof d, 0), d);
        } else {
          ISC_TIME tm = 0;
          api.isc_encode_sql_time(&t, &tm);
          tm += ISC_TIME(value.AsDateTime().Time.Fraction);
          Store(Reserve(SQL_TYPE_TIME, sizeof tm, 0), tm);
        }
        v.sqlsubtype = 0;
        return;
      }
      [[fallthrough]];
    case TFieldType::DateTime: {
      const TDateTime dt = value.AsDateTime();
      const std::tm t = ToTm(dt);
      ISC_QUAD q{};
      api.isc_encode_date(&t, &q);
      ISC_TIMESTAMP ts{};
      std::memcpy(&ts, &q, sizeof ts);
      ts.timestamp_time += ISC_TIME(dt.Time.Fraction);
      Store(Reserve(SQL_TIMESTAMP, sizeof ts, 0), ts);
      v.sqlsubtype = 0;
      return;
    }
    case TFieldType::Unknown:
      break;
  }
  RaiseClientError(4, "Caracteristica não suportada");
}

bool TIBXSQLVAR::IsSupportedColumn(const XSQLVAR& meta) {
  switch (meta.sqltype & ~1) {
    case SQL_TEXT:
    case SQL_VARYING:
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TIMESTAMP:
    case SQL_BLOB:
    case SQL_BOOLEAN:
      return true;
    default:
      return false;
  }
}

TFieldType TIBXSQLVAR::ColumnType(const XSQLVAR& meta) {
  switch (meta.sqltype & ~1) {
    case SQL_TEXT:
      return TFieldType::FixedChar;
    case SQL_VARYING:
      return TFieldType::String;
    case SQL_SHORT:
      return meta.sqlscale == 0 ? TFieldType::Smallint : TFieldType::BCD;
    case SQL_LONG:
    case SQL_INT64:
      if (meta.sqlscale == 0) {
        return (meta.sqltype & ~1) == SQL_LONG ? TFieldType::Integer : TFieldType::LargeInt;
      }
      return meta.sqlscale >= -4 && meta.sqlscale < 0 ? TFieldType::BCD : TFieldType::Float;
    case SQL_FLOAT:
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return TFieldType::Float;
    case SQL_TYPE_DATE:
      return TFieldType::Date;
    case SQL_TYPE_TIME:
      return TFieldType::Time;
    case SQL_TIMESTAMP:
      return TFieldType::DateTime;
    case SQL_BLOB:
      return meta.sqlsubtype == 1 ? TFieldType::Memo : TFieldType::Blob;
    case SQL_BOOLEAN:
      return TFieldType::Boolean;
    default:
      return TFieldType::Unknown;
  }
}

int TIBXSQLVAR::ColumnSize(const XSQLVAR& meta) {
  const int t = meta.sqltype & ~1;
  return t == SQL_TEXT || t == SQL_VARYING ? meta.sqllen : 0;
}

TValue TIBXSQLVAR::DecodeValue(const XSQLVAR& meta, const char* data, bool isNull,
                               const StatementContext& ctx) {
  if (isNull) {
    return TValue();
  }
  switch (meta.sqltype & ~1) {
    case SQL_TEXT:
    case SQL_VARYING:
      return TValue(std::string(TextView(meta, data)));
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64: {
      const std::int64_t raw = RawInteger(meta, data);
      const int t = meta.sqltype & ~1;
      if (meta.sqlscale == 0) {
        if (t == SQL_SHORT) {
          return TValue(std::int16_t(raw));
        }
        if (t == SQL_LONG) {
          return TValue(std::int32_t(raw));
        }
        return TValue(raw);
      }
      if (t == SQL_SHORT || (meta.sqlscale >= -4 && meta.sqlscale < 0)) {
        if (meta.sqlscale > 0) {
          return TValue(TDecimal{raw * Pow10(meta.sqlscale + 4)});
        }
        return TValue(TDecimal{ToDecimal(raw, meta.sqlscale)});
      }
      return TValue(double(raw) * std::pow(10.0, meta.sqlscale));
    }
    case SQL_FLOAT:
      return TValue(double(Load<float>(data)));
    case SQL_DOUBLE:
    case SQL_D_FLOAT:
      return TValue(Load<double>(data));
    case SQL_TYPE_DATE:
      return TValue(DecodeDate(Load<ISC_DATE>(data)));
    case SQL_TYPE_TIME:
      return TValue(DecodeTime(Load<ISC_TIME>(data)));
    case SQL_TIMESTAMP:
      return TValue(DecodeTimestamp(Load<ISC_TIMESTAMP>(data)));
    case SQL_BLOB: {
      std::string content = ReadBlob(ctx, Load<ISC_QUAD>(data));
      if (meta.sqlsubtype == 1) {
        return TValue(std::move(content));
      }
      return TValue(TBytes(content.begin(), content.end()));
    }
    case SQL_BOOLEAN:
      return TValue(Load<std::uint8_t>(data) != 0);
    default:
      return TValue();
  }
}

std::string TIBXSQLVAR::DecodeText(const XSQLVAR& meta, const char* data, bool isNull,
                                   const StatementContext& ctx) {
  std::string text;
  DecodeTextInto(meta, data, isNull, ctx, text);
  return text;
}

void TIBXSQLVAR::DecodeTextInto(const XSQLVAR& meta, const char* data, bool isNull,
                                const StatementContext& ctx, std::string& out) {
  if (isNull) {
    out.clear();
    return;
  }
  char buf[TValue::kTextChars];
  char* end = nullptr;
  switch (meta.sqltype & ~1) {
    case SQL_TEXT:
    case SQL_VARYING: {
      const std::string_view text = TextView(meta, data);
      SetText(out, text.data(), text.size());
      return;
    }
    case SQL_SHORT:
    case SQL_LONG:
    case SQL_INT64:
      if (meta.sqlscale == 0) {
        end = std::to_chars(buf, buf + sizeof buf, RawInteger(meta, data)).ptr;
      } else if (meta.sqlscale >= -4 && meta.sqlscale < 0) {
        end = TValue::WriteDecimalText(buf, RawInteger(meta, data), -meta.sqlscale);
      }
      break;
    case SQL_TYPE_DATE:
      end = TValue::WriteDateText(buf, DecodeDate(Load<ISC_DATE>(data)));
      break;
    case SQL_TYPE_TIME:
      end = TValue::WriteTimeText(buf, DecodeTime(Load<ISC_TIME>(data)));
      break;
    case SQL_TIMESTAMP:
      end = TValue::WriteDateTimeText(buf, DecodeTimestamp(Load<ISC_TIMESTAMP>(data)));
      break;
    case SQL_BLOB:
      out = ReadBlob(ctx, Load<ISC_QUAD>(data));
      return;
    default:
      break;
  }
  if (end != nullptr) {
    SetText(out, buf, std::size_t(end - buf));
  } else {
    out = DecodeValue(meta, data, false, ctx).AsString();
  }
}

}  // namespace fbdetail

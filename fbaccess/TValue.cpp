#include "fbaccess/TValue.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "fbaccess/EDatabaseError.h"

namespace {

[[noreturn]] void CannotConvert(const TValue& value, const char* to) {
  throw EDatabaseError("Não foi possível converter o valor '" + value.AsString() + "' para " + to);
}

// Reads a decimal number text into value × 10000 (rounded half away from zero).
bool ParseDecimal(const std::string& text, std::int64_t& scaled) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    negative = text[i] == '-';
    ++i;
  }
  std::int64_t whole = 0;
  std::int64_t fraction = 0;
  int fractionDigits = 0;
  bool digits = false;
  bool roundUp = false;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    if (whole > (INT64_MAX / 10000 - 9) / 10) {
      return false;
    }
    whole = whole * 10 + (text[i] - '0');
    digits = true;
  }
  if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
    ++i;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
      if (fractionDigits < 4) {
        fraction = fraction * 10 + (text[i] - '0');
        ++fractionDigits;
      } else if (fractionDigits == 4) {
        roundUp = text[i] >= '5';
        ++fractionDigits;
      }
      digits = true;
    }
  }
  while (i < text.size() && text[i] == ' ') {
    ++i;
  }
  if (!digits || i != text.size()) {
    return false;
  }
  for (int k = std::min(fractionDigits, 4); k < 4; ++k) {
    fraction *= 10;
  }
  scaled = whole * 10000 + fraction + (roundUp ? 1 : 0);
  if (negative) {
    scaled = -scaled;
  }
  return true;
}

bool ReadInt(const std::string& s, std::size_t& i, int width, int& out) {
  if (i + width > s.size()) {
    return false;
  }
  int v = 0;
  for (int k = 0; k < width; ++k) {
    const char c = s[i + k];
    if (c < '0' || c > '9') {
      return false;
    }
    v = v * 10 + (c - '0');
  }
  i += width;
  out = v;
  return true;
}

bool ParseTimePart(const std::string& s, std::size_t& i, TTime& t) {
  if (!ReadInt(s, i, 2, t.Hour) || i >= s.size() || s[i] != ':' || !ReadInt(s, ++i, 2, t.Minute)) {
    return false;
  }
  t.Second = 0;
  t.Fraction = 0;
  if (i < s.size() && s[i] == ':') {
    if (!ReadInt(s, ++i, 2, t.Second)) {
      return false;
    }
    if (i < s.size() && s[i] == '.') {
      ++i;
      int digits = 0;
      while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (digits < 4) {
          t.Fraction = t.Fraction * 10 + (s[i] - '0');
          ++digits;
        }
        ++i;
      }
      if (digits == 0) {
        return false;
      }
      for (; digits < 4; ++digits) {
        t.Fraction *= 10;
      }
    }
  }
  return t.Hour < 24 && t.Minute < 60 && t.Second < 60;
}

bool ParseDatePart(const std::string& s, std::size_t& i, TDate& d) {
  if (!ReadInt(s, i, 4, d.Year) || i >= s.size() || s[i] != '-' || !ReadInt(s, ++i, 2, d.Month) ||
      i >= s.size() || s[i] != '-' || !ReadInt(s, ++i, 2, d.Day)) {
    return false;
  }
  return d.Month >= 1 && d.Month <= 12 && d.Day >= 1 && d.Day <= 31;
}

constexpr int kMaxFractionDigits = 18;

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Two digits of 0 <= value < 100.
char* PutTwo(char* p, int value) {
  std::memcpy(p, kDigitPairs + 2 * value, 2);
  return p + 2;
}

// Digits of 0 <= value < 10^width, zero-padded to width (2 or 4), as %0*d
// prints them.
char* PutDigits(char* p, int value, int width) {
  if (width == 4) {
    p = PutTwo(p, value / 100);
    value %= 100;
  }
  return PutTwo(p, value);
}

bool Fits(int value, int limit) {
  return value >= 0 && value < limit;
}

// Rows of dates and times are written for every fetched row: the digits are
// placed directly and printf is left for values no calendar holds.
constexpr std::size_t kDateTextMax = 40;
constexpr std::size_t kTimeTextMax = 56;

char* WriteDate(char* p, const TDate& d) {
  if (Fits(d.Year, 10000) && Fits(d.Month, 100) && Fits(d.Day, 100)) {
    p = PutDigits(p, d.Year, 4);
    *p++ = '-';
    p = PutDigits(p, d.Month, 2);
    *p++ = '-';
    return PutDigits(p, d.Day, 2);
  }
  const int n = std::snprintf(p, kDateTextMax, "%04d-%02d-%02d", d.Year, d.Month, d.Day);
  return p + std::min<std::size_t>(std::size_t(n), kDateTextMax - 1);
}

char* WriteTime(char* p, const TTime& t) {
  if (Fits(t.Hour, 100) && Fits(t.Minute, 100) && Fits(t.Second, 100) && Fits(t.Fraction, 10000)) {
    p = PutDigits(p, t.Hour, 2);
    *p++ = ':';
    p = PutDigits(p, t.Minute, 2);
    *p++ = ':';
    p = PutDigits(p, t.Second, 2);
    if (t.Fraction != 0) {
      *p++ = '.';
      p = PutDigits(p, t.Fraction, 4);
    }
    return p;
  }
  const int n = t.Fraction != 0
                    ? std::snprintf(p, kTimeTextMax, "%02d:%02d:%02d.%04d", t.Hour, t.Minute,
                                    t.Second, t.Fraction)
                    : std::snprintf(p, kTimeTextMax, "%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
  return p + std::min<std::size_t>(std::size_t(n), kTimeTextMax - 1);
}

}  // namespace

TFieldType TValue::NaturalType() const {
  switch (Kind()) {
    case TValueKind::Text:
      return TFieldType::String;
    case TValueKind::Int16:
      return TFieldType::Smallint;
    case TValueKind::Int32:
      return TFieldType::Integer;
    case TValueKind::Int64:
      return TFieldType::LargeInt;
    case TValueKind::Decimal:
      return TFieldType::Currency;
    case TValueKind::Double:
      return TFieldType::Float;
    case TValueKind::Date:
      return TFieldType::Date;
    case TValueKind::Time:
      return TFieldType::Time;
    case TValueKind::DateTime:
      return TFieldType::DateTime;
    case TValueKind::Bool:
      return TFieldType::Boolean;
    case TValueKind::Bytes:
      return TFieldType::Bytes;
    case TValueKind::Null:
      break;
  }
  return TFieldType::Unknown;
}

char* TValue::WriteDateText(char* out, const TDate& d) {
  return WriteDate(out, d);
}

char* TValue::WriteTimeText(char* out, const TTime& t) {
  return WriteTime(out, t);
}

char* TValue::WriteDateTimeText(char* out, const TDateTime& dt) {
  char* p = WriteDate(out, dt.Date);
  *p++ = ' ';
  return WriteTime(p, dt.Time);
}

std::string TValue::DateText(const TDate& d) {
  char buf[kTextChars];
  return std::string(buf, WriteDate(buf, d));
}

std::string TValue::TimeText(const TTime& t) {
  char buf[kTextChars];
  return std::string(buf, WriteTime(buf, t));
}

std::string TValue::DateTimeText(const TDateTime& dt) {
  char buf[kTextChars];
  return std::string(buf, WriteDateTimeText(buf, dt));
}

std::string TValue::DecimalText(std::int64_t scaled, int fractionDigits) {
  char buf[kTextChars];
  return std::string(buf, WriteDecimalText(buf, scaled, fractionDigits));
}

char* TValue::WriteDecimalText(char* out, std::int64_t scaled, int fractionDigits) {
  // The digits are printed once as an integer and the point placed among
  // them, so that no digit is lost to a floating conversion; trailing zeros
  // of the fraction are dropped.
  const std::uint64_t magnitude =
      scaled < 0 ? std::uint64_t(0) - std::uint64_t(scaled) : std::uint64_t(scaled);
  const int places = std::clamp(fractionDigits, 0, kMaxFractionDigits);
  char digits[24];
  const char* const end = std::to_chars(digits, digits + sizeof digits, magnitude).ptr;
  const int count = int(end - digits);
  const int wholeCount = count - places;

  char* p = out;
  if (scaled < 0) {
    *p++ = '-';
  }
  if (wholeCount <= 0) {
    *p++ = '0';
  } else {
    p = std::copy(digits, digits + wholeCount, p);
  }
  const char* fraction = digits + std::max(wholeCount, 0);
  const char* fractionEnd = end;
  while (fractionEnd > fraction && fractionEnd[-1] == '0') {
    --fractionEnd;
  }
  if (fractionEnd > fraction) {
    *p++ = '.';
    p = std::fill_n(p, std::max(-wholeCount, 0), '0');
    p = std::copy(fraction, fractionEnd, p);
  }
  return p;
}

std::string TValue::DoubleText(double value) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, r.ptr);
}

bool TValue::ParseDateTime(const std::string& text, TDateTime& out) {
  std::string s = text;
  while (!s.empty() && s.back() == ' ') {
    s.pop_back();
  }
  std::size_t i = 0;
  TDateTime dt;
  if (s.size() >= 5 && s[2] == ':') {
    if (!ParseTimePart(s, i, dt.Time)) {
      return false;
    }
  } else {
    if (!ParseDatePart(s, i, dt.Date)) {
      return false;
    }
    if (i < s.size() && (s[i] == ' ' || s[i] == 'T')) {
      if (!ParseTimePart(s, ++i, dt.Time)) {
        return false;
      }
    }
  }
  if (i != s.size()) {
    return false;
  }
  out = dt;
  return true;
}

std::string TValue::AsString() const {
  switch (Kind()) {
    case TValueKind::Null:
      return std::string();
    case TValueKind::Text:
      return *Get<std::string>();
    case TValueKind::Int16:
      return std::to_string(*Get<std::int16_t>());
    case TValueKind::Int32:
      return std::to_string(*Get<std::int32_t>());
    case TValueKind::Int64:
      return std::to_string(*Get<std::int64_t>());
    case TValueKind::Decimal:
      return DecimalText(Get<TDecimal>()->Scaled, 4);
    case TValueKind::Double:
      return DoubleText(*Get<double>());
    case TValueKind::Date:
      return DateText(*Get<TDate>());
    case TValueKind::Time:
      return TimeText(*Get<TTime>());
    case TValueKind::DateTime:
      return DateTimeText(*Get<TDateTime>());
    case TValueKind::Bool:
      return *Get<bool>() ? "true" : "false";
    case TValueKind::Bytes: {
      const TBytes& b = *Get<TBytes>();
      return std::string(b.begin(), b.end());
    }
  }
  return std::string();
}

std::int64_t TValue::AsInt64() const {
  switch (Kind()) {
    case TValueKind::Int16:
      return *Get<std::int16_t>();
    case TValueKind::Int32:
      return *Get<std::int32_t>();
    case TValueKind::Int64:
      return *Get<std::int64_t>();
    case TValueKind::Bool:
      return *Get<bool>() ? 1 : 0;
    case TValueKind::Decimal: {
      const std::int64_t s = Get<TDecimal>()->Scaled;
      return (s >= 0 ? s + 5000 : s - 5000) / 10000;
    }
    case TValueKind::Double: {
      const double d = *Get<double>();
      if (!std::isfinite(d) || std::fabs(d) > 9.2e18) {
        CannotConvert(*this, "inteiro");
      }
      return std::llround(d);
    }
    case TValueKind::Text: {
      std::int64_t scaled = 0;
      if (ParseDecimal(*Get<std::string>(), scaled) && scaled % 10000 == 0) {
        return scaled / 10000;
      }
      // Whole numbers beyond the decimal's range.
      const std::string& s = *Get<std::string>();
      std::int64_t v = 0;
      const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
        return v;
      }
      break;
    }
    default:
      break;
  }
  CannotConvert(*this, "inteiro");
}

double TValue::AsDouble() const {
  switch (Kind()) {
    case TValueKind::Double:
      return *Get<double>();
    case TValueKind::Decimal:
      return double(Get<TDecimal>()->Scaled) / 10000.0;
    case TValueKind::Text: {
      const std::string& s = *Get<std::string>();
      double v = 0;
      const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      if (r.ec == std::errc() && r.ptr == s.data() + s.size()) {
        return v;
      }
      break;
    }
    case TValueKind::Int16:
    case TValueKind::Int32:
    case TValueKind::Int64:
    case TValueKind::Bool:
      return double(AsInt64());
    default:
      break;
  }
  CannotConvert(*this, "número");
}

TDecimal TValue::AsDecimal() const {
  switch (Kind()) {
    case TValueKind::Decimal:
      return *Get<TDecimal>();
    case TValueKind::Double: {
      const double d = *Get<double>();
      if (!std::isfinite(d) || std::fabs(d) > 9.2e14) {
        CannotConvert(*this, "decimal");
      }
      return TDecimal{std::llround(d * 10000.0)};
    }
    case TValueKind::Text: {
      std::int64_t scaled = 0;
      if (ParseDecimal(*Get<std::string>(), scaled)) {
        return TDecimal{scaled};
      }
      break;
    }
    case TValueKind::Int16:
    case TValueKind::Int32:
    case TValueKind::Int64:
    case TValueKind::Bool: {
      const std::int64_t v = AsInt64();
      if (v > INT64_MAX / 10000 || v < INT64_MIN / 10000) {
        CannotConvert(*this, "decimal");
      }
      return TDecimal{v * 10000};
    }
    default:
      break;
  }
  CannotConvert(*this, "decimal");
}

TDateTime TValue::AsDateTime() const {
  switch (Kind()) {
    case TValueKind::DateTime:
      return *Get<TDateTime>();
    case TValueKind::Date:
      return TDateTime{*Get<TDate>(), TTime{}};
    case TValueKind::Time:
      return TDateTime{TDate{}, *Get<TTime>()};
    case TValueKind::Text: {
      TDateTime dt;
      if (ParseDateTime(*Get<std::string>(), dt)) {
        return dt;
      }
      throw EDatabaseError("'" + *Get<std::string>() + "' não é uma data e hora válida");
    }
    default:
      break;
  }
  CannotConvert(*this, "data e hora");
}

bool TValue::AsBool() const {
  if (Kind() == TValueKind::Bool) {
    return *Get<bool>();
  }
  if (Kind() == TValueKind::Text) {
    const std::string& s = *Get<std::string>();
    if (s == "true" || s == "True" || s == "TRUE") {
      return true;
    }
    if (s == "false" || s == "False" || s == "FALSE") {
      return false;
    }
  }
  return AsInt64() != 0;
}

TBytes TValue::AsBytes() const {
  if (Kind() == TValueKind::Bytes) {
    return *Get<TBytes>();
  }
  const std::string s = AsString();
  return TBytes(s.begin(), s.end());
}

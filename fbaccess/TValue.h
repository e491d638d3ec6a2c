#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "fbaccess/TFieldType.h"

struct TDate {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  bool operator==(const TDate&) const = default;
};

struct TTime {
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Fraction = 0;  // ten-thousandths of a second, as the server keeps them
  bool operator==(const TTime&) const = default;
};

struct TDateTime {
  TDate Date;
  TTime Time;
  bool operator==(const TDateTime&) const = default;
};

// Fixed point with four fractional digits: the value times 10000.
struct TDecimal {
  std::int64_t Scaled = 0;
  bool operator==(const TDecimal&) const = default;
};

using TBytes = std::vector<std::uint8_t>;

enum class TValueKind {
  Null,
  Text,
  Int16,
  Int32,
  Int64,
  Decimal,
  Double,
  Date,
  Time,
  DateTime,
  Bool,
  Bytes
};

// A typed column or parameter value. Text forms are locale independent: ISO
// dates and times ("yyyy-mm-dd", "hh:nn:ss", both with a blank between, a
// fraction ".ffff" only when not zero) and "." as decimal separator, so that
// AsString round-trips through a text parameter.
class TValue {
 public:
  TValue() = default;  // null
  TValue(const char* text) : v_(std::string(text)) {}
  TValue(std::string text) : v_(std::move(text)) {}
  TValue(std::int16_t value) : v_(value) {}
  TValue(std::uint16_t value) : v_(std::int32_t{value}) {}  // 16-bit unsigned fits 32 bits
  TValue(int value) : v_(std::int32_t{value}) {}
  TValue(std::uint32_t value) : v_(double(value)) {}  // 32-bit unsigned becomes floating
  TValue(long value) : v_(std::int64_t{value}) {}
  TValue(long long value) : v_(std::int64_t{value}) {}
  TValue(TDecimal value) : v_(value) {}
  TValue(double value) : v_(value) {}
  TValue(float value) : v_(double{value}) {}
  TValue(TDate value) : v_(value) {}
  TValue(TTime value) : v_(value) {}
  TValue(TDateTime value) : v_(value) {}
  TValue(bool value) : v_(value) {}
  TValue(TBytes value) : v_(std::move(value)) {}

  TValueKind Kind() const { return static_cast<TValueKind>(v_.index()); }
  bool IsNull() const { return Kind() == TValueKind::Null; }
  // The parameter type this kind of value gives an untyped parameter.
  TFieldType NaturalType() const;

  // Text form; null gives "".
  std::string AsString() const;
  // Conversions used when a value meets a parameter of another type. Each
  // throws EDatabaseError when the value cannot be read as that type.
  std::int64_t AsInt64() const;
  double AsDouble() const;
  TDecimal AsDecimal() const;
  TDateTime AsDateTime() const;
  bool AsBool() const;
  TBytes AsBytes() const;

  // Direct access; nullptr when the value holds another kind.
  template <typename T>
  const T* Get() const {
    return std::get_if<T>(&v_);
  }

  bool operator==(const TValue&) const = default;

  // Text forms and parsing, shared with the column conversions.
  static std::string DateText(const TDate& d);
  static std::string TimeText(const TTime& t);
  static std::string DateTimeText(const TDateTime& dt);
  // scaled / 10^fractionDigits (0 to 18 places), without trailing zeros.
  static std::string DecimalText(std::int64_t scaled, int fractionDigits);
  static std::string DoubleText(double value);
  // The same text forms written into a buffer of at least kTextChars bytes;
  // each returns the end of the text. For columns read on every row.
  static constexpr std::size_t kTextChars = 128;
  static char* WriteDateText(char* out, const TDate& d);
  static char* WriteTimeText(char* out, const TTime& t);
  static char* WriteDateTimeText(char* out, const TDateTime& dt);
  static char* WriteDecimalText(char* out, std::int64_t scaled, int fractionDigits);
  // Reads "yyyy-mm-dd", "hh:nn[:ss[.f]]" or both with a blank (or "T")
  // between. Returns false for anything else.
  static bool ParseDateTime(const std::string& text, TDateTime& out);

 private:
  std::variant<std::monostate, std::string, std::int16_t, std::int32_t, std::int64_t, TDecimal,
               double, TDate, TTime, TDateTime, bool, TBytes>
      v_;
};

#include "pages/TIndexKey.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "pages/TBocu1.h"

namespace {

constexpr std::uint16_t kCharsetUtf8 = 4;
constexpr std::uint16_t kCharsetWin1252 = 53;

// Powers of ten as the engine's key code divides by them (literals, so the
// last bit agrees).
constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                              1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19,
                              1e20, 1e21, 1e22, 1e23, 1e24, 1e25, 1e26, 1e27, 1e28, 1e29,
                              1e30, 1e31, 1e32, 1e33, 1e34, 1e35, 1e36};
constexpr int kMaxPower = 36;

bool TextKey(std::uint16_t keyType) {
  return keyType == ods::kIdxString || keyType == ods::kIdxByteArray ||
         keyType == ods::IntlKeyType(kCharsetUtf8) || keyType == ods::IntlKeyType(kCharsetWin1252);
}

bool SegmentDecodable(std::uint16_t keyType, std::uint8_t dtype) {
  switch (keyType) {
    case ods::kIdxNumeric:
      return dtype == ods::kDtypeShort || dtype == ods::kDtypeLong || dtype == ods::kDtypeInt64 ||
             dtype == ods::kDtypeReal || dtype == ods::kDtypeDouble;
    case ods::kIdxNumeric2:
      return dtype == ods::kDtypeInt64;
    case ods::kIdxSqlDate:
      return dtype == ods::kDtypeSqlDate;
    case ods::kIdxSqlTime:
      return dtype == ods::kDtypeSqlTime;
    case ods::kIdxTimestamp:
      return dtype == ods::kDtypeTimestamp;
    case ods::kIdxBoolean:
      return dtype == ods::kDtypeBoolean;
    default:
      return TextKey(keyType) && (dtype == ods::kDtypeText || dtype == ods::kDtypeVarying);
  }
}

// The first `width` key bytes (the engine cut trailing zeros) as a big-endian
// number whose sign bit the key flipped; `negativeComplemented` for the
// floating forms, which complement negative numbers whole.
std::uint64_t Unflip(ods::TBytesView b, std::size_t width, bool negativeComplemented) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < width; ++i) {
    v = v << 8 | (i < b.size() ? b[i] : 0);
  }
  const std::uint64_t sign = std::uint64_t(1) << (8 * width - 1);
  if ((v & sign) != 0 || !negativeComplemented) {
    return v ^ sign;
  }
  return ~v & (width == 8 ? ~std::uint64_t(0) : (std::uint64_t(1) << (8 * width)) - 1);
}

double PowerOf10(int scale) {  // 10^-scale, as the key code takes it
  return scale <= 0 ? kPowers[-scale] : 1.0 / kPowers[scale];
}

// The 64-bit integer behind an INT64 key: a double holding the value's
// leading digits (the integer multiplied by 10^n, then cut by 10000) and a
// short holding the last four. n is not stored; every n that re-encodes to
// the same double and short gives the same integer.
std::optional<std::int64_t> Int64FromKey(double d, std::int16_t low, int scale) {
  if (low <= -10000 || low >= 10000) {
    return std::nullopt;
  }
  for (int n = 0; n <= 18; ++n) {
    const int shifted = scale - n;
    if (shifted < -kMaxPower || shifted > kMaxPower) {
      continue;
    }
    const double power = PowerOf10(shifted);
    const long double approx = static_cast<long double>(d) * power;
    if (!(std::fabs(approx) < 9.3e14L)) {
      continue;
    }
    const std::int64_t near = std::llround(approx);
    for (const std::int64_t high : {near, near - 1, near + 1}) {
      if (double(high) / power != d || (high > 0 && low < 0) || (high < 0 && low > 0)) {
        continue;
      }
      const __int128 whole = __int128(high) * 10000 + low;
      __int128 factor = 1;
      for (int i = 0; i < n; ++i) {
        factor *= 10;
      }
      if (whole % factor != 0) {
        continue;
      }
      const __int128 q = whole / factor;
      if (q >= INT64_MIN && q <= INT64_MAX) {
        return std::int64_t(q);
      }
    }
  }
  return std::nullopt;
}

template <typename T>
std::vector<std::uint8_t> BytesOf(T value) {
  std::vector<std::uint8_t> out(sizeof value);
  std::memcpy(out.data(), &value, sizeof value);
  return out;
}

// A decoded number as an integer field of the given scale, when it is one.
std::optional<std::vector<std::uint8_t>> IntegerField(const TFieldDescriptor& f, long double v) {
  const long double scaled = v * std::pow(10.0L, -f.scale);
  const long double rounded = std::nearbyint(scaled);
  if (!(std::fabs(scaled - rounded) <= 1e-6L * std::max(1.0L, std::fabs(rounded)))) {
    return std::nullopt;
  }
  if (f.dtype == ods::kDtypeShort && std::fabs(rounded) <= INT16_MAX) {
    return BytesOf(std::int16_t(rounded));
  }
  if (f.dtype == ods::kDtypeLong && std::fabs(rounded) <= INT32_MAX) {
    return BytesOf(std::int32_t(rounded));
  }
  if (f.dtype == ods::kDtypeInt64 && std::fabs(rounded) < 9.007e15L) {
    return BytesOf(std::int64_t(rounded));
  }
  return std::nullopt;
}

}  // namespace

TIndexKey::TIndexKey(const TIndexDescriptor& index, const TRecordFormat& format)
    : segments_(index.segments) {
  decodable_ = !segments_.empty() && !index.Descending() && !index.Expression();
  for (const TIndexDescriptor::TSegment& s : segments_) {
    const bool known = s.fieldId < format.Fields().size() && format.Stored(s.fieldId);
    descriptors_.push_back(known ? format.Fields()[s.fieldId] : TFieldDescriptor{});
    decodable_ = decodable_ && known && SegmentDecodable(s.keyType, descriptors_.back().dtype);
  }
}

std::optional<std::vector<std::vector<std::uint8_t>>> TIndexKey::Split(ods::TBytesView key,
                                                                       std::size_t segments) {
  std::vector<std::vector<std::uint8_t>> pieces(segments);
  if (segments == 1) {
    pieces[0].assign(key.begin(), key.end());
    return pieces;
  }
  // Each segment goes in groups of four bytes, each group after a marker byte
  // counting the segments down (the first is `segments`); the last group of a
  // segment is filled with zeros. A NULL segment has no group.
  std::vector<bool> present(segments, false);
  std::size_t lastMarker = segments + 1;
  for (std::size_t at = 0; at < key.size(); at += 5) {
    const std::size_t marker = key[at];
    if (marker == 0 || marker > segments || marker > lastMarker) {
      return std::nullopt;
    }
    lastMarker = marker;
    std::vector<std::uint8_t>& piece = pieces[segments - marker];
    present[segments - marker] = true;
    const std::size_t end = std::min(key.size(), at + 5);
    piece.insert(piece.end(), key.begin() + std::ptrdiff_t(at + 1),
                 key.begin() + std::ptrdiff_t(end));
  }
  for (std::size_t i = 0; i < segments; ++i) {
    while (!pieces[i].empty() && pieces[i].back() == 0) {
      pieces[i].pop_back();
    }
    if (present[i] && pieces[i].empty()) {
      pieces[i].push_back(0);  // a value whose key bytes were all zeros
    }
  }
  return pieces;
}

std::optional<std::vector<std::vector<std::uint8_t>>> TIndexKey::Fields(ods::TBytesView key) const {
  if (!decodable_) {
    return std::nullopt;
  }
  auto pieces = Split(key, segments_.size());
  if (!pieces) {
    return std::nullopt;
  }
  std::vector<std::vector<std::uint8_t>> fields;
  for (std::size_t i = 0; i < segments_.size(); ++i) {
    if ((*pieces)[i].empty()) {
      fields.emplace_back();  // NULL: no key bytes at all
      continue;
    }
    auto field = Field(i, (*pieces)[i]);
    if (!field) {
      return std::nullopt;
    }
    fields.push_back(std::move(*field));
  }
  return fields;
}

std::optional<std::vector<std::uint8_t>> TIndexKey::Field(std::size_t segment,
                                                          ods::TBytesView b) const {
  const std::uint16_t keyType = segments_[segment].keyType;
  const TFieldDescriptor& f = descriptors_[segment];
  if (TextKey(keyType)) {
    // The key is the text without its trailing blanks (zeros for OCTETS and
    // the collated character sets); UTF8 keys are BOCU-1.
    const std::uint8_t pad = keyType == ods::kIdxString ? ' ' : 0;
    std::size_t n = b.size();
    while (n > 0 && (b[n - 1] == pad || b[n - 1] == 0)) {
      --n;
    }
    std::string text(reinterpret_cast<const char*>(b.data()), n);
    if (keyType == ods::IntlKeyType(kCharsetUtf8)) {
      auto utf8 = TBocu1::ToUtf8(b.first(n));
      if (!utf8) {
        return std::nullopt;
      }
      text = std::move(*utf8);
    }
    if (f.dtype == ods::kDtypeText) {
      if (text.size() > f.length) {
        return std::nullopt;
      }
      text.resize(f.length, keyType == ods::kIdxByteArray ? '\0' : ' ');
      return std::vector<std::uint8_t>(text.begin(), text.end());
    }
    if (f.length < 2 || text.size() > f.length - 2u) {
      return std::nullopt;
    }
    std::vector<std::uint8_t> out(f.length, 0);
    const auto length = std::uint16_t(text.size());
    std::memcpy(out.data(), &length, 2);
    std::memcpy(out.data() + 2, text.data(), text.size());
    return out;
  }
  switch (keyType) {
    case ods::kIdxNumeric: {
      const double d = std::bit_cast<double>(Unflip(b, 8, true));
      if (f.dtype == ods::kDtypeDouble) {
        return BytesOf(d);
      }
      if (f.dtype == ods::kDtypeReal) {
        return BytesOf(float(d));
      }
      return IntegerField(f, d);
    }
    case ods::kIdxNumeric2: {
      const double d = std::bit_cast<double>(Unflip(b, 8, true));
      const ods::TBytesView tail = b.size() > 8 ? b.subspan(8) : ods::TBytesView();
      const auto low = std::int16_t(std::uint16_t(Unflip(tail, 2, false)));
      const auto q = Int64FromKey(d, low, f.scale);
      return q ? std::optional(BytesOf(*q)) : std::nullopt;
    }
    case ods::kIdxSqlDate:
      return BytesOf(std::int32_t(std::uint32_t(Unflip(b, 4, false))));
    case ods::kIdxSqlTime:
      return BytesOf(std::uint32_t(Unflip(b, 4, false)));
    case ods::kIdxTimestamp: {
      // Days times the ticks of a day, plus the ticks.
      constexpr std::int64_t kDay = 24LL * 3600 * 10000;
      const auto whole = std::int64_t(Unflip(b, 8, false));
      const std::int64_t days = whole >= 0 ? whole / kDay : -((-whole + kDay - 1) / kDay);
      std::vector<std::uint8_t> out = BytesOf(std::int32_t(days));
      const std::vector<std::uint8_t> time = BytesOf(std::uint32_t(whole - days * kDay));
      out.insert(out.end(), time.begin(), time.end());
      return out;
    }
    case ods::kIdxBoolean:
      return std::vector<std::uint8_t>{std::uint8_t(Unflip(b, 1, false) != 0 ? 1 : 0)};
    default:
      return std::nullopt;
  }
}

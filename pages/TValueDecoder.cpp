#include "pages/TValueDecoder.h"

#include <algorithm>

#include <cmath>
#include <cstring>
#include <string>

namespace {

std::int64_t Pow10(int n) {
  std::int64_t r = 1;
  while (n-- > 0) {
    r *= 10;
  }
  return r;
}

// value × 10000 from a scaled integer, rounding half away from zero.
std::int64_t ToDecimal(std::int64_t raw, int scale) {
  const int shift = 4 + scale;
  if (shift >= 0) {
    return raw * Pow10(shift);
  }
  const std::int64_t d = Pow10(-shift);
  return (raw >= 0 ? raw + d / 2 : raw - d / 2) / d;
}

TValue Scaled(std::int64_t raw, const TFieldDescriptor& d) {
  if (d.scale == 0) {
    if (d.dtype == ods::kDtypeShort) {
      return TValue(std::int16_t(raw));
    }
    if (d.dtype == ods::kDtypeLong) {
      return TValue(std::int32_t(raw));
    }
    return TValue(static_cast<long long>(raw));
  }
  if (d.dtype == ods::kDtypeShort || (d.scale >= -4 && d.scale < 0)) {
    if (d.scale > 0) {
      return TValue(TDecimal{raw * Pow10(d.scale + 4)});
    }
    return TValue(TDecimal{ToDecimal(raw, d.scale)});
  }
  return TValue(double(raw) * std::pow(10.0, d.scale));
}

std::string TextUpToNul(ods::TBytesView b) {
  const void* nul = std::memchr(b.data(), 0, b.size());
  const std::size_t n =
      nul == nullptr ? b.size() : std::size_t(static_cast<const std::uint8_t*>(nul) - b.data());
  return std::string(reinterpret_cast<const char*>(b.data()), n);
}

constexpr std::uint32_t kDayTicks = 24u * 3600u * 10000u;

}  // namespace

TDate TValueDecoder::DateOf(std::int32_t days) {
  // Days from 1858-11-17 to a proleptic Gregorian date (days-from-civil inverse).
  const std::int64_t z = std::int64_t(days) - 40587 + 719468;  // from 0000-03-01
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const int day = int(doy - (153 * mp + 2) / 5 + 1);
  const int month = int(mp < 10 ? mp + 3 : mp - 9);
  return TDate{int(yoe + era * 400) + (month <= 2 ? 1 : 0), month, day};
}

TTime TValueDecoder::TimeOf(std::uint32_t ticks) {
  ticks %= kDayTicks;
  const std::uint32_t seconds = ticks / 10000;
  return TTime{int(seconds / 3600), int(seconds / 60 % 60), int(seconds % 60), int(ticks % 10000)};
}

TValue TValueDecoder::Decode(const TRecordFormat& format, const std::vector<std::uint8_t>& record,
                             std::uint16_t id, const TFieldDefault* fallback, TReadCounts& counts) {
  if (!format.Stored(id)) {
    if (fallback != nullptr) {
      return FromBytes(fallback->descriptor, fallback->bytes, counts);
    }
    return TValue();
  }
  if (id / 8 >= record.size() || (record[id / 8] & (1u << (id % 8))) != 0) {
    return TValue();
  }
  const TFieldDescriptor& d = format.Fields()[id];
  if (!ods::Fits(record, d.offset, d.length)) {
    return TValue();
  }
  return FromBytes(d, ods::TBytesView(record).subspan(d.offset, d.length), counts);
}

TValue TValueDecoder::FromBytes(const TFieldDescriptor& d, ods::TBytesView b, TReadCounts& counts) {
  switch (d.dtype) {
    case ods::kDtypeText:
    case ods::kDtypeCstring:
      return TValue(TextUpToNul(b));
    case ods::kDtypeVarying: {
      if (b.size() < 2) {
        return TValue();
      }
      const std::size_t n = std::min<std::size_t>(ods::U16(b, 0), b.size() - 2);
      return TValue(TextUpToNul(b.subspan(2, n)));
    }
    case ods::kDtypeShort:
      return b.size() >= 2 ? Scaled(ods::Load<std::int16_t>(b, 0), d) : TValue();
    case ods::kDtypeLong:
      return b.size() >= 4 ? Scaled(ods::Load<std::int32_t>(b, 0), d) : TValue();
    case ods::kDtypeInt64:
      return b.size() >= 8 ? Scaled(ods::Load<std::int64_t>(b, 0), d) : TValue();
    case ods::kDtypeReal:
      return b.size() >= 4 ? TValue(ods::Load<float>(b, 0)) : TValue();
    case ods::kDtypeDouble:
    case ods::kDtypeDFloat:
      return b.size() >= 8 ? TValue(ods::Load<double>(b, 0)) : TValue();
    case ods::kDtypeSqlDate:
      return b.size() >= 4 ? TValue(DateOf(ods::Load<std::int32_t>(b, 0))) : TValue();
    case ods::kDtypeSqlTime:
      return b.size() >= 4 ? TValue(TimeOf(ods::U32(b, 0))) : TValue();
    case ods::kDtypeTimestamp:
      return b.size() >= 8
                 ? TValue(TDateTime{DateOf(ods::Load<std::int32_t>(b, 0)), TimeOf(ods::U32(b, 4))})
                 : TValue();
    case ods::kDtypeBoolean:
      return b.empty() ? TValue() : TValue(b[0] != 0);
    case ods::kDtypeBlob:
    case ods::kDtypeArray: {
      if (b.size() < 8) {
        return TValue();
      }
      auto content = reader_.ReadBlob(b.data());
      if (!content) {
        ++counts.blobsUnreadable;
        return TValue();
      }
      if (d.dtype == ods::kDtypeArray) {
        // The array blob starts with its descriptor, iad_length bytes long.
        const std::size_t skip = ods::U16(*content, 6);
        if (content->size() < 16 || skip > content->size()) {
          ++counts.blobsUnreadable;
          return TValue();
        }
        TBytes slice(content->begin() + std::ptrdiff_t(skip), content->end());
        // A varchar element is stored as its length and text; the client's
        // slice holds the text ended by a zero byte, in the same cell.
        constexpr std::uint8_t kVarying = 3;
        const std::size_t cell = ods::U16(*content, 4);
        if (content->size() >= 20 && (*content)[16] == kVarying && cell > 2) {
          for (std::size_t at = 0; at + cell <= slice.size(); at += cell) {
            const std::size_t length = std::min<std::size_t>(ods::U16(slice, at), cell - 2);
            std::copy(slice.begin() + std::ptrdiff_t(at + 2),
                      slice.begin() + std::ptrdiff_t(at + 2 + length),
                      slice.begin() + std::ptrdiff_t(at));
            std::fill(slice.begin() + std::ptrdiff_t(at + length),
                      slice.begin() + std::ptrdiff_t(at + cell), std::uint8_t{0});
          }
        }
        return TValue(std::move(slice));
      }
      if (d.subType == 1) {
        return TValue(std::string(content->begin(), content->end()));
      }
      return TValue(std::move(*content));
    }
    default:
      return TValue(TBytes(b.begin(), b.end()));
  }
}

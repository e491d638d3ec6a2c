#include "pages/TBocu1.h"

#include <cstdint>

namespace {

// Lead bytes: 0x50..0xCF one byte (distances -64..63), then two, three and
// four bytes for larger distances, up and down from the middle 0x90.
constexpr int kMiddle = 0x90;
constexpr int kTrailCount = 243;
constexpr std::int32_t kReachPos1 = 63;
constexpr std::int32_t kReachNeg1 = -64;
constexpr std::int32_t kReachPos2 = kReachPos1 + 43 * kTrailCount;
constexpr std::int32_t kReachNeg2 = kReachNeg1 - 43 * kTrailCount;
constexpr std::int32_t kReachPos3 = kReachPos2 + 3 * kTrailCount * kTrailCount;
constexpr std::int32_t kReachNeg3 = kReachNeg2 - 3 * kTrailCount * kTrailCount;
constexpr int kStartPos2 = kMiddle + kReachPos1 + 1;  // 0xD0
constexpr int kStartPos3 = kStartPos2 + 43;           // 0xFB
constexpr int kStartPos4 = kStartPos3 + 3;            // 0xFE
constexpr int kStartNeg2 = kMiddle + kReachNeg1;      // 0x50
constexpr int kStartNeg3 = kStartNeg2 - 43;           // 0x25
constexpr int kStartNeg4 = kStartNeg3 - 3;            // 0x22
constexpr std::int32_t kAsciiPrevious = 0x40;

// A trail byte's value: 20 control bytes first, then 0x21..0xFF; -1 otherwise.
int TrailValue(std::uint8_t b) {
  if (b >= 0x01 && b <= 0x06) {
    return b - 0x01;
  }
  if (b >= 0x10 && b <= 0x19) {
    return b - 0x10 + 6;
  }
  if (b >= 0x1C && b <= 0x1F) {
    return b - 0x1C + 16;
  }
  if (b >= 0x21) {
    return b - 0x21 + 20;
  }
  return -1;
}

// Where the next distance is measured from, after code point c.
std::int32_t PreviousOf(std::int32_t c) {
  if (c >= 0x3040 && c <= 0x309F) {
    return 0x3070;  // Hiragana
  }
  if (c >= 0x4E00 && c <= 0x9FA5) {
    return 0x4E00 - kReachNeg2;  // CJK ideographs
  }
  if (c >= 0xAC00 && c <= 0xD7A3) {
    return (0xD7A3 + 0xAC00) / 2;  // Hangul
  }
  return (c & ~0x7F) + kAsciiPrevious;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += char(c);
  } else if (c < 0x800) {
    out += char(0xC0 | (c >> 6));
    out += char(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += char(0xE0 | (c >> 12));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  } else {
    out += char(0xF0 | (c >> 18));
    out += char(0x80 | ((c >> 12) & 0x3F));
    out += char(0x80 | ((c >> 6) & 0x3F));
    out += char(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::optional<std::string> TBocu1::ToUtf8(ods::TBytesView bytes) {
  std::string out;
  std::int32_t previous = kAsciiPrevious;
  std::size_t at = 0;
  // The next `n` trail bytes as one number, most significant first.
  auto trails = [&](int n, std::int32_t& value) {
    value = 0;
    for (int i = 0; i < n; ++i) {
      const int t = at < bytes.size() ? TrailValue(bytes[at++]) : -1;
      if (t < 0) {
        return false;
      }
      value = value * kTrailCount + t;
    }
    return true;
  };
  while (at < bytes.size()) {
    const int lead = bytes[at++];
    if (lead <= 0x20) {
      // Controls and the space stand for themselves; only the space keeps
      // the previous code point.
      if (lead != 0x20) {
        previous = kAsciiPrevious;
      }
      out += char(lead);
      continue;
    }
    if (lead == 0xFF) {
      previous = kAsciiPrevious;  // reset
      continue;
    }
    std::int32_t diff = 0;
    std::int32_t t = 0;
    if (lead >= kStartNeg2 && lead < kStartPos2) {
      diff = lead - kMiddle;
    } else if (lead >= kStartPos2 && lead < kStartPos3) {
      if (!trails(1, t)) {
        return std::nullopt;
      }
      diff = (lead - kStartPos2) * kTrailCount + t + kReachPos1 + 1;
    } else if (lead >= kStartPos3 && lead < kStartPos4) {
      if (!trails(2, t)) {
        return std::nullopt;
      }
      diff = (lead - kStartPos3) * kTrailCount * kTrailCount + t + kReachPos2 + 1;
    } else if (lead == kStartPos4) {
      if (!trails(3, t)) {
        return std::nullopt;
      }
      diff = t + kReachPos3 + 1;
    } else if (lead >= kStartNeg3) {
      if (!trails(1, t)) {
        return std::nullopt;
      }
      diff = (lead - kStartNeg2) * kTrailCount + t + kReachNeg1;
    } else if (lead >= kStartNeg4) {
      if (!trails(2, t)) {
        return std::nullopt;
      }
      diff = (lead - kStartNeg3) * kTrailCount * kTrailCount + t + kReachNeg2;
    } else {
      if (!trails(3, t)) {
        return std::nullopt;
      }
      diff = -kTrailCount * kTrailCount * kTrailCount + t + kReachNeg3;
    }
    const std::int32_t c = previous + diff;
    if (c < 0 || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      return std::nullopt;
    }
    AppendUtf8(out, std::uint32_t(c));
    previous = PreviousOf(c);
  }
  return out;
}

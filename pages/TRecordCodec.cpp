#include "pages/TRecordCodec.h"

#include <cstring>

bool TRecordCodec::Unpack(ods::TBytesView packed, std::vector<std::uint8_t>& out,
                          std::size_t limit) {
  std::size_t i = 0;
  while (i < packed.size()) {
    const int n = static_cast<std::int8_t>(packed[i++]);
    if (n < 0) {
      if (i >= packed.size() || out.size() + std::size_t(-n) > limit) {
        return false;
      }
      out.insert(out.end(), std::size_t(-n), packed[i++]);
    } else {
      if (std::size_t(n) > packed.size() - i || out.size() + std::size_t(n) > limit) {
        return false;
      }
      out.insert(out.end(), packed.begin() + i, packed.begin() + i + n);
      i += std::size_t(n);
    }
  }
  return true;
}

bool TRecordCodec::ApplyDiff(ods::TBytesView differences, std::vector<std::uint8_t>& record) {
  std::size_t i = 0;
  std::size_t p = 0;
  while (i < differences.size() && p < record.size()) {
    const int n = static_cast<std::int8_t>(differences[i++]);
    if (n > 0) {
      if (std::size_t(n) > record.size() - p || std::size_t(n) > differences.size() - i) {
        return false;
      }
      std::memcpy(record.data() + p, differences.data() + i, std::size_t(n));
      p += std::size_t(n);
      i += std::size_t(n);
    } else {
      p += std::size_t(-n);
    }
  }
  if (p > record.size() || i < differences.size()) {
    return false;
  }
  record.resize(p);
  return true;
}

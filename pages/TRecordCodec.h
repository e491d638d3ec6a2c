#pragma once

#include <cstdint>
#include <vector>

#include "pages/Ods.h"

// Firebird's record compression (run-length control bytes) and the
// differences format of delta back versions. Both stop with false instead of
// writing past `limit` bytes, whatever the input.
class TRecordCodec {
 public:
  // Appends the decompressed `packed` to `out`, never letting it exceed
  // `limit` bytes. A control byte n > 0 copies n bytes; n < 0 repeats the next
  // byte -n times.
  static bool Unpack(ods::TBytesView packed, std::vector<std::uint8_t>& out, std::size_t limit);
  // Applies `differences` (already decompressed) to `record` in place: n > 0
  // copies n bytes from the differences, n < 0 keeps -n bytes of the record.
  // The result has the length the differences cover.
  static bool ApplyDiff(ods::TBytesView differences, std::vector<std::uint8_t>& record);
};

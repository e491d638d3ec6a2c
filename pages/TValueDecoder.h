#pragma once

#include <cstdint>
#include <vector>

#include "fbaccess/TValue.h"
#include "pages/TPageReader.h"
#include "pages/TRecordFormat.h"

// Turns a field of a decompressed record into the access layer's value, the
// way TIBQuery gives the same column: integers by size, scaled integers as
// TDecimal (scale down to -4) or double, CHAR with its blanks and VARCHAR as
// the stored bytes (up to a NUL, like the access layer), blobs as their
// content (text for sub_type 1), arrays as their element bytes.
class TValueDecoder {
 public:
  explicit TValueDecoder(TPageReader& reader) : reader_(reader) {}

  // The value of field `id` of `record` (written with `format`). A field the
  // record's format does not have reads as `fallback` when given (a later
  // format's default), else NULL. Blobs that cannot be read count in
  // `counts` and read as NULL.
  TValue Decode(const TRecordFormat& format, const std::vector<std::uint8_t>& record,
                std::uint16_t id, const TFieldDefault* fallback, TReadCounts& counts);

  // A value from a descriptor and its bytes (exactly descriptor.length).
  TValue FromBytes(const TFieldDescriptor& descriptor, ods::TBytesView bytes, TReadCounts& counts);

  static TDate DateOf(std::int32_t days);
  static TTime TimeOf(std::uint32_t ticks);

 private:
  TPageReader& reader_;
};

#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "pages/Ods.h"
#include "pages/TIndexReader.h"
#include "pages/TRecordFormat.h"

// Turns an index key back into the stored bytes of its columns, where the
// engine's key encoding keeps the value: integers of every size and scale,
// floating point, date, time, timestamp, boolean, and text of the character
// sets NONE, ASCII, OCTETS, WIN1252 and UTF8 in their default collations,
// for single and compound keys of ascending indexes. Text keys lose trailing
// blanks: CHAR is padded again to its length, VARCHAR comes back without
// them. The server writes the key of 0 for a BIGINT of -2^63, which thus
// reads as 0. Descending and expression indexes, other collations and other
// types are not decoded.
class TIndexKey {
 public:
  // `format` is the relation's current format (the one the keys follow).
  TIndexKey(const TIndexDescriptor& index, const TRecordFormat& format);

  // Every segment is of a kind this class decodes.
  bool Decodable() const { return decodable_; }
  // Per segment, the field's bytes as a record of `format` would hold them
  // (to be read with that format's descriptor); nothing when the key is not
  // decodable or not well formed. A NULL segment gives an empty field.
  std::optional<std::vector<std::vector<std::uint8_t>>> Fields(ods::TBytesView key) const;
  const std::vector<TFieldDescriptor>& Descriptors() const { return descriptors_; }

  // The pieces of a compound key per segment (markers and padding removed);
  // exposed for the tests. Nothing when the markers do not fit.
  static std::optional<std::vector<std::vector<std::uint8_t>>> Split(ods::TBytesView key,
                                                                     std::size_t segments);

 private:
  std::optional<std::vector<std::uint8_t>> Field(std::size_t segment, ods::TBytesView bytes) const;

  std::vector<TIndexDescriptor::TSegment> segments_;
  std::vector<TFieldDescriptor> descriptors_;
  bool decodable_ = false;
};

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "pages/Ods.h"

// One field of a record format, as the engine stores it (Ods::Descriptor).
struct TFieldDescriptor {
  std::uint8_t dtype = 0;
  std::int8_t scale = 0;
  std::uint16_t length = 0;
  std::int16_t subType = 0;
  std::uint16_t flags = 0;
  std::uint32_t offset = 0;
  bool operator==(const TFieldDescriptor&) const = default;
};

// A default value kept with a format: rows written before the field existed
// read it instead of NULL.
struct TFieldDefault {
  TFieldDescriptor descriptor;
  std::vector<std::uint8_t> bytes;
  bool operator==(const TFieldDefault&) const = default;
};

// The layout of a record of one format version: a null bitmap (bit n of
// byte n/8 for field id n), then each field at its descriptor's offset.
// Field ids index `fields`; a dropped field leaves dtype 0.
class TRecordFormat {
 public:
  TRecordFormat() = default;
  explicit TRecordFormat(std::vector<TFieldDescriptor> fields);

  // Parses an RDB$FORMATS.RDB$DESCRIPTOR blob: a 16-bit count, that many
  // 12-byte descriptors, a 16-bit count of defaults, each a 16-bit field id,
  // a descriptor and the value's bytes. Nothing for a malformed blob.
  static std::optional<TRecordFormat> FromDescriptorBlob(ods::TBytesView blob);
  // A system relation's format built the way the engine builds it: the null
  // bitmap rounded to 32 bits, then each field aligned to its size (at most 8;
  // text unaligned, varying to 2).
  static TRecordFormat Built(const std::vector<TFieldDescriptor>& fieldsWithoutOffsets);

  const std::vector<TFieldDescriptor>& Fields() const { return fields_; }
  const std::map<std::uint16_t, TFieldDefault>& Defaults() const { return defaults_; }
  // Length of a decompressed record of this format.
  std::uint32_t Length() const { return length_; }
  // A field stored in the record (not computed, not dropped).
  bool Stored(std::uint16_t id) const;

  bool operator==(const TRecordFormat&) const = default;

 private:
  std::vector<TFieldDescriptor> fields_;
  std::map<std::uint16_t, TFieldDefault> defaults_;
  std::uint32_t length_ = 0;
};

#include "pages/TRecordFormat.h"

#include <algorithm>

namespace {

constexpr std::size_t kDescriptorSize = 12;

TFieldDescriptor ReadDescriptor(ods::TBytesView b, std::size_t at) {
  TFieldDescriptor d;
  d.dtype = ods::U8(b, at);
  d.scale = static_cast<std::int8_t>(ods::U8(b, at + 1));
  d.length = ods::U16(b, at + 2);
  d.subType = static_cast<std::int16_t>(ods::U16(b, at + 4));
  d.flags = ods::U16(b, at + 6);
  d.offset = ods::U32(b, at + 8);
  return d;
}

std::uint32_t RecordLength(const std::vector<TFieldDescriptor>& fields) {
  std::uint32_t length = 0;
  for (const TFieldDescriptor& d : fields) {
    if (d.dtype != ods::kDtypeUnknown && d.offset != 0) {
      length = std::max(length, d.offset + d.length);
    }
  }
  return length;
}

}  // namespace

TRecordFormat::TRecordFormat(std::vector<TFieldDescriptor> fields)
    : fields_(std::move(fields)), length_(RecordLength(fields_)) {}

std::optional<TRecordFormat> TRecordFormat::FromDescriptorBlob(ods::TBytesView blob) {
  if (blob.size() < 2) {
    return std::nullopt;
  }
  const std::size_t count = ods::U16(blob, 0);
  std::size_t at = 2;
  if (!ods::Fits(blob, at, count * kDescriptorSize)) {
    return std::nullopt;
  }
  std::vector<TFieldDescriptor> fields;
  fields.reserve(count);
  for (std::size_t i = 0; i < count; ++i, at += kDescriptorSize) {
    const TFieldDescriptor d = ReadDescriptor(blob, at);
    if (d.dtype > ods::kDtypeBoolean || (d.offset != 0 && d.offset > ods::kMaxRecordLength)) {
      return std::nullopt;
    }
    fields.push_back(d);
  }
  TRecordFormat format(std::move(fields));
  if (format.length_ > ods::kMaxRecordLength) {
    return std::nullopt;
  }
  // Formats written before defaults were kept end here.
  if (at == blob.size()) {
    return format;
  }
  if (!ods::Fits(blob, at, 2)) {
    return std::nullopt;
  }
  std::size_t defaults = ods::U16(blob, at);
  at += 2;
  while (defaults-- > 0) {
    if (!ods::Fits(blob, at, 2 + kDescriptorSize)) {
      return std::nullopt;
    }
    const std::uint16_t id = ods::U16(blob, at);
    TFieldDefault value;
    value.descriptor = ReadDescriptor(blob, at + 2);
    at += 2 + kDescriptorSize;
    if (!ods::Fits(blob, at, value.descriptor.length)) {
      return std::nullopt;
    }
    value.bytes.assign(blob.begin() + at, blob.begin() + at + value.descriptor.length);
    at += value.descriptor.length;
    format.defaults_[id] = std::move(value);
  }
  return format;
}

TRecordFormat TRecordFormat::Built(const std::vector<TFieldDescriptor>& fieldsWithoutOffsets) {
  std::vector<TFieldDescriptor> fields = fieldsWithoutOffsets;
  const std::uint32_t n = std::uint32_t(fields.size());
  std::uint32_t offset = ((n + 32) & ~31u) >> 3;
  for (TFieldDescriptor& d : fields) {
    std::uint32_t alignment = std::min<std::uint32_t>(d.length, 8);
    if (d.dtype == ods::kDtypeText || d.dtype == ods::kDtypeCstring) {
      alignment = 1;
    } else if (d.dtype == ods::kDtypeVarying) {
      alignment = 2;
    }
    if (alignment > 1) {
      offset = (offset + alignment - 1) / alignment * alignment;
    }
    d.offset = offset;
    offset += d.length;
  }
  TRecordFormat format(std::move(fields));
  format.length_ = offset;
  return format;
}

bool TRecordFormat::Stored(std::uint16_t id) const {
  return id < fields_.size() && fields_[id].dtype != ods::kDtypeUnknown && fields_[id].offset != 0;
}

#include "pages/TSystemFormats.h"

#include <vector>

namespace {

// Field kinds of the system relations (fields.h): names are CHAR(31) in the
// metadata character set, one byte per character.
const TFieldDescriptor kName{ods::kDtypeText, 0, 31, 3, 0, 0};
const TFieldDescriptor kShort{ods::kDtypeShort, 0, 2, 0, 0, 0};
const TFieldDescriptor kLong{ods::kDtypeLong, 0, 4, 0, 0, 0};
const TFieldDescriptor kDouble{ods::kDtypeDouble, 0, 8, 0, 0, 0};
const TFieldDescriptor kBlob{ods::kDtypeBlob, 0, 8, 0, 0, 0};
const TFieldDescriptor kTextBlob{ods::kDtypeBlob, 3, 8, 1, 0, 0};

TFieldDescriptor Text(std::uint16_t length) {
  return TFieldDescriptor{ods::kDtypeText, 0, length, 0, 0, 0};
}
TFieldDescriptor Varying(std::uint16_t length) {
  return TFieldDescriptor{ods::kDtypeVarying, 0, std::uint16_t(length + 2), 0, 0, 0};
}

}  // namespace

std::optional<TRecordFormat> TSystemFormats::For(std::uint16_t relationId) {
  switch (relationId) {
    case kPages:
      return TRecordFormat::Built({kLong, kShort, kLong, kShort});
    case kFields:
      return TRecordFormat::Built(
          {kName,     kName,  kBlob,        kTextBlob, kBlob,  kTextBlob, kBlob,     kTextBlob,
           kShort,    kShort, kShort,       kShort,    kBlob,  kTextBlob, kTextBlob, kShort,
           kTextBlob, kShort, Varying(127), kShort,    kShort, kShort,    kShort,    kShort,
           kShort,    kShort, kShort,       kShort,    kName,  kName});
    case kIndexSegments:
      return TRecordFormat::Built({kName, kName, kShort, kDouble});
    case kRelationFields:
      return TRecordFormat::Built({kName,  kName,     kName,  kName,  kName,  Varying(127),
                                   kShort, kTextBlob, kShort, kShort, kShort, kTextBlob,
                                   kBlob,  kShort,    kName,  kName,  kShort, kTextBlob,
                                   kShort, kName,     kShort});
    case kRelations:
      return TRecordFormat::Built({kBlob, kTextBlob, kTextBlob, kShort, kShort, kShort, kShort,
                                   kShort, kName, kName, Varying(255), kBlob, kBlob, kName, kName,
                                   kShort, kShort});
    case kFormats:
      return TRecordFormat::Built({kShort, kShort, kBlob});
    case kRelationConstraints:
      return TRecordFormat::Built({kName, Text(11), kName, Text(3), Text(3), kName});
    default:
      return std::nullopt;
  }
}

#pragma once

#include <cstdint>
#include <optional>

#include "pages/TRecordFormat.h"

// The fixed formats of the system relations the reader needs (format 0, as
// the engine builds them from its own field lists for ODS 12.0), and the
// field ids used in them.
class TSystemFormats {
 public:
  static constexpr std::uint16_t kPages = 0;
  static constexpr std::uint16_t kFields = 2;
  static constexpr std::uint16_t kIndexSegments = 3;
  static constexpr std::uint16_t kRelationFields = 5;
  static constexpr std::uint16_t kRelations = 6;
  static constexpr std::uint16_t kFormats = 8;
  static constexpr std::uint16_t kRelationConstraints = 22;

  // Field ids.
  struct Pages {
    static constexpr std::uint16_t kPageNumber = 0, kRelationId = 1, kSequence = 2, kType = 3;
  };
  struct Fields {
    static constexpr std::uint16_t kName = 0, kComputedBlr = 4, kLength = 8, kScale = 9, kType = 10,
                                   kSubType = 11, kDimensions = 22, kCharLength = 24,
                                   kCharsetId = 26;
  };
  struct IndexSegments {
    static constexpr std::uint16_t kIndexName = 0, kFieldName = 1, kPosition = 2;
  };
  struct RelationFields {
    static constexpr std::uint16_t kFieldName = 0, kRelationName = 1, kFieldSource = 2,
                                   kPosition = 6, kFieldId = 9;
  };
  struct Relations {
    static constexpr std::uint16_t kViewBlr = 0, kRelationId = 3, kSystemFlag = 4, kFormat = 6,
                                   kName = 8, kExternalFile = 10, kRelationType = 16;
  };
  struct Formats {
    static constexpr std::uint16_t kRelationId = 0, kFormat = 1, kDescriptor = 2;
  };
  struct RelationConstraints {
    static constexpr std::uint16_t kName = 0, kType = 1, kRelationName = 2, kIndexName = 5;
  };

  // The format of one of the relations above; nothing for another id.
  static std::optional<TRecordFormat> For(std::uint16_t relationId);
};

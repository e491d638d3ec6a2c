#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pages/TPageReader.h"
#include "pages/TSchema.h"

// Reads the tables, their columns, formats and primary keys from the system
// tables (RDB$RELATIONS, RDB$RELATION_FIELDS, RDB$FIELDS, RDB$FORMATS,
// RDB$RELATION_CONSTRAINTS, RDB$INDEX_SEGMENTS) through the page reader.
class TSchemaReader {
 public:
  struct TResult {
    TSchema schema;
    std::map<std::uint16_t, std::string> relationNames;  // every relation, system ones too
    // Every page and record of those tables was read.
    bool intact = true;
    std::vector<std::uint32_t> damagedPages;
    std::uint64_t recordsUndecodable = 0;
  };

  static TResult Read(TPageReader& reader);
};

#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pages/TRecordFormat.h"

// What the reader needs to turn a table's records into rows. The reader fills
// it from the system tables; a caller can fill one from another source (an
// older copy of the database) when those pages are damaged.
struct TSchemaColumn {
  std::string name;
  std::uint16_t fieldId = 0;  // index of the field in every format
  bool computed = false;      // not stored: always NULL from the pages
  bool operator==(const TSchemaColumn&) const = default;
};

struct TSchemaTable {
  std::uint16_t relationId = 0;
  std::string name;
  std::vector<TSchemaColumn> columns;              // in the order select * gives them
  std::map<std::uint16_t, TRecordFormat> formats;  // by format number
  std::vector<std::string> primaryKey;             // column names, in key order
  bool operator==(const TSchemaTable&) const = default;
};

struct TSchema {
  std::map<std::uint16_t, TSchemaTable> tables;  // user tables by relation id

  const TSchemaTable* Find(std::uint16_t relationId) const {
    const auto t = tables.find(relationId);
    return t == tables.end() ? nullptr : &t->second;
  }
  const TSchemaTable* Find(const std::string& name) const {
    for (const auto& [id, table] : tables) {
      if (table.name == name) {
        return &table;
      }
    }
    return nullptr;
  }
};

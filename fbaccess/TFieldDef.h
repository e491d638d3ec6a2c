#pragma once

#include <string>

#include "fbaccess/TFieldType.h"

// One result column of a prepared statement.
struct TFieldDef {
  std::string Name;  // the column's alias
  TFieldType DataType = TFieldType::Unknown;
  int Size = 0;  // declared bytes of text columns, else 0
};

#pragma once

// The data type of a column (FieldDefs) or of a parameter. A parameter starts
// as Unknown and takes its type from the first value assigned to it.
enum class TFieldType {
  Unknown,
  String,     // VARCHAR; text parameters
  FixedChar,  // CHAR
  Smallint,   // 16-bit integer
  Word,       // 16-bit unsigned
  Boolean,
  Integer,   // 32-bit integer
  LargeInt,  // 64-bit integer
  Float,     // double precision
  Currency,  // fixed point, four fractional digits
  BCD,       // scaled integer column (fixed point as well)
  Date,
  Time,
  DateTime,
  Blob,
  Memo,  // text blob
  Bytes
};

#pragma once

#include <string>

#include "fbaccess/TFieldDef.h"
#include "fbaccess/TValue.h"

class TIBQuery;

// A result column of a query, read on the query's current row. Valid while
// the query stays prepared.
class TField {
 public:
  TField(const TIBQuery& query, int column, TFieldDef def)
      : query_(&query), column_(column), def_(std::move(def)) {}

  const std::string& Name() const { return def_.Name; }
  TFieldType DataType() const { return def_.DataType; }
  int Size() const { return def_.Size; }
  const TFieldDef& Def() const { return def_; }

  bool IsNull() const;
  // Text of the value; null gives "".
  std::string AsString() const;
  // The same text into `out`, reusing its storage: no allocation per row
  // once `out` has grown to the column's width.
  void ReadText(std::string& out) const;
  TValue Value() const;

 private:
  const TIBQuery* query_;
  int column_;  // index in the statement's output area
  TFieldDef def_;
};

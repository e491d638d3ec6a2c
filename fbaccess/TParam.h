#pragma once

#include <string>

#include "fbaccess/TFieldType.h"
#include "fbaccess/TValue.h"

// A named statement parameter. Its type starts Unknown and is set by the
// first non-null value assigned; once set it stays, and later values are
// converted to it when the statement runs.
class TParam {
 public:
  explicit TParam(std::string name) : name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  TFieldType DataType() const { return dataType_; }
  void SetDataType(TFieldType type) { dataType_ = type; }
  const TValue& Value() const { return value_; }
  void SetValue(const TValue& value) {
    value_ = value;
    if (dataType_ == TFieldType::Unknown) {
      dataType_ = value.NaturalType();
    }
  }
  bool IsNull() const { return value_.IsNull(); }
  void Clear() { value_ = TValue(); }

 private:
  std::string name_;
  TFieldType dataType_ = TFieldType::Unknown;
  TValue value_;
};

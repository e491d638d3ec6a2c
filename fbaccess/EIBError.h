#pragma once

#include <cstdint>
#include <string>

#include "fbaccess/EDatabaseError.h"

// Base of every failure of the Firebird access layer.
class EIBError : public EDatabaseError {
 public:
  EIBError(std::int32_t sqlCode, const std::string& message)
      : EDatabaseError(message), sqlCode_(sqlCode) {}
  std::int32_t SqlCode() const { return sqlCode_; }

 private:
  std::int32_t sqlCode_;
};

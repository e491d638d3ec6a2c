#pragma once

#include "fbaccess/EIBError.h"

// A failed client library call whose SQL code is -551 (no permission).
class EIBInterBaseRoleError : public EIBError {
 public:
  EIBInterBaseRoleError(std::int32_t sqlCode, long engineCode, const std::string& message)
      : EIBError(sqlCode, message), engineCode_(engineCode) {}
  long EngineCode() const { return engineCode_; }

 private:
  long engineCode_;
};

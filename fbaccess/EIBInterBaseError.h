#pragma once

#include "fbaccess/EIBError.h"

// A failed client library call: the message is the server's own text.
class EIBInterBaseError : public EIBError {
 public:
  EIBInterBaseError(std::int32_t sqlCode, long engineCode, const std::string& message)
      : EIBError(sqlCode, message), engineCode_(engineCode) {}
  long EngineCode() const { return engineCode_; }

 private:
  long engineCode_;
};

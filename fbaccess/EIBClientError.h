#pragma once

#include "fbaccess/EIBError.h"

// A check made by the access layer itself; SqlCode() is the error's index
// (1 = client library missing, 17 = no database name, ...).
class EIBClientError : public EIBError {
 public:
  EIBClientError(std::int32_t index, const std::string& message) : EIBError(index, message) {}
};

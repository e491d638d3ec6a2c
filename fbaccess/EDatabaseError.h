#pragma once

#include <stdexcept>
#include <string>

// The general database error: unknown column or parameter names, operations on
// an open dataset. Base of the EIBError family.
class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
};

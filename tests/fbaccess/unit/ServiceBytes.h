#pragma once

// Helpers shared by the service tests: the items of a start request as bytes,
// the check of a layer error with its index, and the catch of a server's.

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "FakeClient.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"

// A text item: code, 16-bit little-endian length, text.
inline std::string Text(int code, const std::string& text) {
  return Bytes({code, static_cast<int>(text.size() & 0xFF), static_cast<int>(text.size() >> 8)}) +
         text;
}

// A number item: code, 32-bit little-endian value.
inline std::string Number(int code, std::uint32_t value) {
  return Bytes({code, static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF), static_cast<int>(value >> 24)});
}

template <typename F>
void ExpectClientError(F call, int index, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected client error " << index << " " << message;
  } catch (const EIBClientError& error) {
    EXPECT_EQ(error.SqlCode(), index);
    EXPECT_EQ(std::string(error.what()), message);
  }
}

// The server's failure that `call` raises; none, and a test failure, when it
// raises none.
template <typename F>
std::optional<EIBInterBaseError> ServerFailure(F call) {
  try {
    call();
    ADD_FAILURE() << "expected a failure of the server";
  } catch (const EIBInterBaseError& error) {
    return error;
  }
  return std::nullopt;
}

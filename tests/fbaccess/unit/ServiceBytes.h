#pragma once

// Helpers shared by the service tests: the items of a start request as bytes,
// and the check of a layer error with its index.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "FakeClient.h"
#include "fbaccess/EIBClientError.h"

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

#pragma once

#include <optional>
#include <string>

#include "pages/Ods.h"

// BOCU-1, the binary-ordered Unicode compression the engine turns UTF8 index
// keys into (from the text's UTF-16): each code point is written as its
// distance from the middle of the previous one's block, in one to four
// bytes whose order is the code points' order.
class TBocu1 {
 public:
  // The text as UTF-8; nothing for bytes no BOCU-1 encoder writes.
  static std::optional<std::string> ToUtf8(ods::TBytesView bytes);
};

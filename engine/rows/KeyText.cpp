#include "engine/rows/KeyText.h"

#include "engine/run/TextUtil.h"

namespace {

bool IsBlankOrControl(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool NeedsQuotes(const std::string& value) {
  if (value.empty()) {
    return false;
  }
  return value.find(';') != std::string::npos || value.front() == '"' ||
         IsBlankOrControl(value.front()) || IsBlankOrControl(value.back());
}

}  // namespace

std::string KeyText(const std::vector<std::string>& values) {
  bool allEmpty = true;
  for (const std::string& value : values) {
    allEmpty = allEmpty && value.empty();
  }
  if (allEmpty) {
    return std::string();
  }
  std::string text;
  for (std::size_t i = 0; i < values.size(); ++i) {
    // Every separator is written, so each value keeps its place even when one
    // before it is empty.
    if (i > 0) {
      text += ';';
    }
    text += NeedsQuotes(values[i]) ? QuotedText(values[i], '"') : values[i];
  }
  return text;
}

void AppendLookupValue(std::string& lookup, std::string_view value, bool severalFields) {
  if (severalFields) {
    std::size_t length = value.size();
    do {
      const auto group = static_cast<char>(length & 0x7F);
      length >>= 7;
      lookup += length != 0 ? static_cast<char>(group | 0x80) : group;
    } while (length != 0);
  }
  lookup.append(value);
}

std::string_view WithoutTrailingBlanks(std::string_view text) {
  while (!text.empty() && text.back() == ' ') {
    text.remove_suffix(1);
  }
  return text;
}

#include "engine/TextUtil.h"

namespace {

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlankOrControl(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

}  // namespace

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) {
      return false;
    }
  }
  return true;
}

std::size_t FindIgnoringCase(const std::string& text, const std::string& what, std::size_t from) {
  if (what.size() > text.size()) {
    return std::string::npos;
  }
  for (std::size_t start = from; start + what.size() <= text.size(); ++start) {
    std::size_t i = 0;
    while (i < what.size() && FoldAscii(text[start + i]) == FoldAscii(what[i])) {
      ++i;
    }
    if (i == what.size()) {
      return start;
    }
  }
  return std::string::npos;
}

std::string TrimText(const std::string& text) {
  std::size_t first = 0;
  while (first < text.size() && IsBlankOrControl(text[first])) {
    ++first;
  }
  std::size_t last = text.size();
  while (last > first && IsBlankOrControl(text[last - 1])) {
    --last;
  }
  return text.substr(first, last - first);
}

std::string percentText(long long position, long long count) {
  if (count == 0) {
    return "";
  }
  return std::to_string(position * 100 / count) + "%";
}

std::string QuotedText(const std::string& text, char quote) {
  std::string quoted(1, quote);
  for (const char c : text) {
    quoted += c;
    if (c == quote) {
      quoted += quote;
    }
  }
  quoted += quote;
  return quoted;
}

std::string JoinedNames(const std::vector<std::string>& names) {
  std::string joined;
  for (const std::string& name : names) {
    joined += (joined.empty() ? "" : ", ") + name;
  }
  return joined;
}

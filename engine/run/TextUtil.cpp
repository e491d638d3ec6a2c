#include "engine/run/TextUtil.h"

#include <algorithm>

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

std::string FirstLine(const std::string& message) {
  return message.substr(0, message.find_first_of("\r\n"));
}

std::string WithLineBreaks(const std::string& text) {
  std::string result;
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      result += text[i];
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      result += '\n';
    }
  }
  return result;
}

std::vector<std::string> TextLines(const std::string& text) {
  std::vector<std::string> lines(1);
  for (const char c : WithLineBreaks(text)) {
    if (c == '\n') {
      lines.emplace_back();
    } else {
      lines.back() += c;
    }
  }
  return lines;
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

std::vector<std::string> CondensedLines(const std::vector<std::string>& lines, std::size_t most) {
  std::vector<std::string> distinct;
  std::vector<std::size_t> times;
  for (const std::string& line : lines) {
    const auto at = std::find(distinct.begin(), distinct.end(), line);
    if (at == distinct.end()) {
      distinct.push_back(line);
      times.push_back(1);
    } else {
      ++times[static_cast<std::size_t>(at - distinct.begin())];
    }
  }
  std::vector<std::string> condensed;
  for (std::size_t i = 0; i < distinct.size(); ++i) {
    if (most > 0 && condensed.size() + 1 == most && distinct.size() > most) {
      condensed.push_back("… e mais " + std::to_string(distinct.size() - i) +
                          " mensagens diferentes (veja o log e o relatório)");
      break;
    }
    condensed.push_back(
        distinct[i] + (times[i] > 1 ? " (" + std::to_string(times[i]) + " vezes)" : std::string()));
  }
  return condensed;
}

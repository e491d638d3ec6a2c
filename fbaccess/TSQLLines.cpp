#include "fbaccess/TSQLLines.h"

void TSQLLines::Changed() {
  if (onChange_) {
    onChange_();
  }
}

void TSQLLines::Clear() {
  lines_.clear();
  Changed();
}

void TSQLLines::Add(const std::string& line) {
  lines_.push_back(line);
  Changed();
}

void TSQLLines::Set(int index, const std::string& line) {
  lines_.at(std::size_t(index)) = line;
  Changed();
}

std::vector<std::string> TSQLLines::Split(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    if (text[i] == '\r' || text[i] == '\n') {
      lines.push_back(text.substr(start, i - start));
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < text.size()) {
    lines.push_back(text.substr(start));
  }
  return lines;
}

void TSQLLines::SetText(const std::string& text) {
  lines_ = Split(text);
  Changed();
}

void TSQLLines::Assign(const std::vector<std::string>& lines) {
  const std::string before = Text();
  lines_ = lines;
  if (Text() != before) {
    Changed();
  }
}

std::string TSQLLines::Text() const {
  std::string text;
  for (const std::string& line : lines_) {
    text += line;
    text += "\r\n";
  }
  return text;
}

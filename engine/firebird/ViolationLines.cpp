#include "engine/firebird/ViolationLines.h"

#include "engine/firebird/TServerDialect.h"
#include "engine/run/TextUtil.h"

namespace {

// Copies from `start` up to the next double quote, never past the character
// before the line's last one.
std::string CopyQuotedFrom(const std::string& line, std::size_t start) {
  std::string name;
  for (std::size_t i = start; i + 1 < line.size() && line[i] != '"'; ++i) {
    name += line[i];
  }
  return name;
}

}  // namespace

std::vector<std::string> getForeignKeyErrors(const std::vector<std::string>& runLog) {
  std::vector<std::string> lines;
  for (const std::string& line : runLog) {
    if (!TServerDialect::IsForeignKeyViolation(line)) {
      continue;
    }
    bool known = false;
    for (const std::string& kept : lines) {
      if (SameTextIgnoringCase(kept, line)) {
        known = true;
        break;
      }
    }
    if (!known) {
      lines.push_back(line);
    }
  }
  return lines;
}

std::string getConstraintName(const std::string& line) {
  const std::size_t quote = line.find('"');
  if (quote == std::string::npos) {
    return "";
  }
  return CopyQuotedFrom(line, quote + 1);
}

std::string getTableName(const std::string& line) {
  // Look for the word after the constraint's closing quote when there is one.
  std::size_t searchFrom = 0;
  const std::size_t open = line.find('"');
  if (open != std::string::npos) {
    const std::size_t close = line.find('"', open + 1);
    if (close != std::string::npos) {
      searchFrom = close + 1;
    }
  }
  const std::size_t word = line.find("table", searchFrom);
  if (word == std::string::npos) {
    return "";
  }
  const std::size_t quote = line.find('"', word + 1);
  if (quote == std::string::npos) {
    return "";
  }
  return CopyQuotedFrom(line, quote + 1);
}

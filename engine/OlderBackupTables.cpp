#include "engine/OlderBackupTables.h"

#include <algorithm>
#include <cctype>
#include <set>

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// Every character SIMILAR TO gives a meaning, behind the escape.
std::string Escaped(const std::string& name) {
  static const std::string kSpecial = "[]()|^-+*%_?{}\\";
  std::string text;
  for (const char c : name) {
    if (kSpecial.find(c) != std::string::npos) {
      text += '\\';
    }
    text += c;
  }
  return text;
}

}  // namespace

std::vector<std::string> TablesWithParents(
    const std::vector<std::string>& wanted,
    const std::function<std::vector<std::string>(const std::string&)>& parentsOf) {
  std::vector<std::string> tables;
  std::set<std::string> seen;
  std::vector<std::string> work(wanted.rbegin(), wanted.rend());
  while (!work.empty()) {
    const std::string table = work.back();
    work.pop_back();
    if (!seen.insert(table).second) {
      continue;
    }
    tables.push_back(table);
    const std::vector<std::string> parents = parentsOf(table);
    work.insert(work.end(), parents.rbegin(), parents.rend());
  }
  return tables;
}

std::string SkipDataPattern(const std::vector<std::string>& all,
                            const std::vector<std::string>& kept) {
  std::set<std::string> keptUpper;
  for (const std::string& table : kept) {
    keptUpper.insert(Upper(table));
  }
  std::string pattern;
  for (const std::string& table : all) {
    if (keptUpper.count(Upper(table)) != 0) {
      continue;
    }
    pattern += (pattern.empty() ? "(" : "|") + Escaped(table);
  }
  return pattern.empty() ? pattern : pattern + ")";
}

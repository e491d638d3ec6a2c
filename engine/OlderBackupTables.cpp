#include "engine/OlderBackupTables.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "engine/TServerDialect.h"

namespace {

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
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
  std::vector<std::string> skipped;
  for (const std::string& table : all) {
    if (keptUpper.count(Upper(table)) == 0) {
      skipped.push_back(table);
    }
  }
  return TServerDialect::SkipDataExpression(skipped);
}

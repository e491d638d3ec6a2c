#include "engine/rows/OlderBackupTables.h"

#include <algorithm>
#include <set>

#include "engine/firebird/TServerDialect.h"
#include "engine/run/TextUtil.h"

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
  std::vector<std::string> skipped;
  for (const std::string& table : all) {
    if (std::none_of(kept.begin(), kept.end(),
                     [&](const std::string& keep) { return SameTextIgnoringCase(table, keep); })) {
      skipped.push_back(table);
    }
  }
  return TServerDialect::SkipDataExpression(skipped);
}

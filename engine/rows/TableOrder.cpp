#include "engine/rows/TableOrder.h"

#include <algorithm>
#include <map>
#include <set>

TableOrder ParentsFirstTables(
    const std::vector<std::string>& tables,
    const std::function<std::vector<std::string>(const std::string&)>& parentsOf) {
  const std::set<std::string> filled(tables.begin(), tables.end());
  std::map<std::string, std::set<std::string>> waitingFor;
  for (const std::string& table : tables) {
    for (const std::string& parent : parentsOf(table)) {
      if (parent != table && filled.count(parent) > 0) {
        waitingFor[table].insert(parent);
      }
    }
  }
  TableOrder result;
  std::set<std::string> placed;
  bool progress = true;
  while (progress) {
    progress = false;
    for (const std::string& table : tables) {
      if (placed.count(table) > 0) {
        continue;
      }
      const std::set<std::string>& parents = waitingFor[table];
      if (std::all_of(parents.begin(), parents.end(),
                      [&](const std::string& parent) { return placed.count(parent) > 0; })) {
        result.order.push_back(table);
        placed.insert(table);
        progress = true;
      }
    }
  }
  for (const std::string& table : tables) {
    if (placed.insert(table).second) {
      result.order.push_back(table);
      result.cycle.push_back(table);
    }
  }
  return result;
}

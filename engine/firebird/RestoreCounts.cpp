#include "engine/firebird/RestoreCounts.h"

#include "engine/firebird/TServerDialect.h"

std::optional<IRecoverySteps::RowCounts> RowCountsFromRestore(
    const std::vector<std::string>& output) {
  IRecoverySteps::RowCounts counts;
  std::string current;
  bool named = false;
  for (const std::string& line : output) {
    if (const std::string table = TServerDialect::RestoredTable(line); !table.empty()) {
      counts.emplace(table, 0);
      named = true;
      continue;
    }
    if (const std::string data = TServerDialect::RestoredDataTable(line); !data.empty()) {
      current = data;
      continue;
    }
    if (const std::string view = TServerDialect::RestoredView(line); !view.empty()) {
      counts.erase(view);
      continue;
    }
    const std::optional<long long> records = TServerDialect::RestoredRecords(line);
    if (!current.empty() && records) {
      counts[current] = *records;
    }
  }
  if (!named) {
    return std::nullopt;
  }
  return counts;
}

#include "engine/firebird/DamageLines.h"

#include <algorithm>

#include "engine/firebird/TServerDialect.h"
#include "engine/run/TextUtil.h"

std::vector<std::string> ErrorLines(const std::vector<std::string>& output) {
  std::vector<std::string> lines;
  for (const std::string& line : output) {
    if (TServerDialect::IsErrorLine(line)) {
      lines.push_back(TrimText(line));
    }
  }
  return lines;
}

bool IsRefusedRowLine(const std::string& line) {
  return !TServerDialect::RefusedRowTable(line).empty();
}

std::map<std::string, long long> RefusedRowsPerTable(const std::vector<std::string>& restoreLog) {
  std::map<std::string, long long> rows;
  for (const std::string& line : restoreLog) {
    if (const std::string table = TServerDialect::RefusedRowTable(line); !table.empty()) {
      ++rows[table];
    }
  }
  return rows;
}

std::vector<std::string> TablesWithErrors(const std::vector<std::string>& validationOutput) {
  std::vector<std::string> tables;
  for (const std::string& line : validationOutput) {
    const std::string table = TServerDialect::TableWithErrors(line);
    if (!table.empty() && std::find(tables.begin(), tables.end(), table) == tables.end()) {
      tables.push_back(table);
    }
  }
  return tables;
}

bool FailedOnlyOnKeysAndRows(const std::vector<std::string>& restoreLog) {
  bool failed = false;
  bool finished = false;
  bool lastErrorMendable = false;
  for (const std::string& line : restoreLog) {
    finished = finished || TServerDialect::RestoreFinished(line);
    if (!TServerDialect::IsErrorLine(line)) {
      continue;
    }
    if (TServerDialect::IsErrorDetail(line)) {
      if (!lastErrorMendable) {
        return false;
      }
      continue;
    }
    lastErrorMendable = TServerDialect::IsForeignKeyViolation(line) || IsRefusedRowLine(line);
    if (!lastErrorMendable) {
      return false;
    }
    failed = true;
  }
  return failed && finished;
}

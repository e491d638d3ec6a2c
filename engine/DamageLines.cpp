#include "engine/DamageLines.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kErrorMark[] = "gbak: ERROR:";
constexpr char kRefusedRow[] = "gbak: ERROR:validation error for column \"";
constexpr char kForeignKeyViolation[] = "violation of FOREIGN KEY";
// The last words of every restore that read its backup to the end.
constexpr char kRestoreFinished[] = "finishing, closing, and going home";
constexpr char kRelation[] = "Relation ";
constexpr char kErrorsFound[] = " ERRORS found";

bool Contains(const std::string& text, const char* phrase) {
  return text.find(phrase) != std::string::npos;
}

// Starts with "gbak: ERROR:" and a blank: a detail of the error line before.
bool IsErrorDetail(const std::string& line, std::size_t mark) {
  const std::size_t after = mark + std::strlen(kErrorMark);
  return after < line.size() && (line[after] == ' ' || line[after] == '\t');
}

}  // namespace

bool IsRefusedRowLine(const std::string& line) {
  return Contains(line, kRefusedRow);
}

std::map<std::string, long long> RefusedRowsPerTable(const std::vector<std::string>& restoreLog) {
  std::map<std::string, long long> rows;
  for (const std::string& line : restoreLog) {
    const std::size_t at = line.find(kRefusedRow);
    if (at == std::string::npos) {
      continue;
    }
    const std::size_t from = at + std::strlen(kRefusedRow);
    const std::size_t to = line.find('"', from);
    if (to != std::string::npos && to > from) {
      ++rows[line.substr(from, to - from)];
    }
  }
  return rows;
}

std::vector<std::string> TablesWithErrors(const std::vector<std::string>& validationOutput) {
  std::vector<std::string> tables;
  for (const std::string& line : validationOutput) {
    const std::size_t at = line.find(kRelation);
    if (at == std::string::npos || !Contains(line, kErrorsFound)) {
      continue;
    }
    const std::size_t open = line.find('(', at);
    const std::size_t close = line.find(')', open == std::string::npos ? at : open);
    if (open == std::string::npos || close == std::string::npos || close <= open + 1) {
      continue;
    }
    const std::string table = line.substr(open + 1, close - open - 1);
    if (std::find(tables.begin(), tables.end(), table) == tables.end()) {
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
    finished = finished || Contains(line, kRestoreFinished);
    const std::size_t mark = line.find(kErrorMark);
    if (mark == std::string::npos) {
      continue;
    }
    if (IsErrorDetail(line, mark)) {
      if (!lastErrorMendable) {
        return false;
      }
      continue;
    }
    lastErrorMendable = Contains(line, kForeignKeyViolation) || IsRefusedRowLine(line);
    if (!lastErrorMendable) {
      return false;
    }
    failed = true;
  }
  return failed && finished;
}

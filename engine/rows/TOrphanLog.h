#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "engine/run/TRecoveryContext.h"

// The run-log lines of the orphan search, in the forms the operator reads:
// a header per parent table, one block per child table with its count and a
// progress line replaced in place, and the closing list of missing keys.
class TOrphanLog {
 public:
  explicit TOrphanLog(TRecoveryContext& context) : context_(context) {}

  static std::string Rule() { return std::string(80, '-'); }

  // Empties the log and writes the boxed "Analisando relacionamentos de" title.
  void Begin(const std::string& parentTable);
  void Append(const std::string& line);
  // "- PEDIDOS (1 de 2)" and "  Carregando dados...".
  void ChildStart(const std::string& childTable, std::size_t position, std::size_t count);
  // Turns the loading line into "  Carregando dados... N registros" and opens
  // the progress line.
  void ChildLoaded(std::size_t rows);
  // The progress line through all rows, rewritten only when its text changes
  // (at most about a hundred times), then the closing empty line.
  void ChildAnalysed(std::size_t rows);
  // "Nenhuma ocorrência encontrada." or the occurrence count and the keys.
  void Close(const std::vector<std::string>& missingKeys, const std::string& parentTable,
             const std::string& keyFieldLabel);

 private:
  void ReplaceLast(const std::string& line);

  TRecoveryContext& context_;
};

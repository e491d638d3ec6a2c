#include "engine/rows/TOrphanLog.h"

#include "engine/run/TextUtil.h"

namespace {

const char kLoading[] = "  Carregando dados...";
const char kAnalysing[] = "  Analisando dados ... ";

}  // namespace

void TOrphanLog::Begin(const std::string& parentTable) {
  context_.ClearLog();
  Append(Rule());
  Append("Analisando relacionamentos de " + parentTable);
  Append(Rule());
}

void TOrphanLog::Append(const std::string& line) {
  context_.WriteLog(line, -1);
}

void TOrphanLog::ReplaceLast(const std::string& line) {
  const std::size_t lines = context_.RunLog().size();
  if (lines == 0) {
    Append(line);
  } else {
    context_.WriteLog(line, static_cast<int>(lines - 1));
  }
}

void TOrphanLog::ChildStart(const std::string& childTable, std::size_t position,
                            std::size_t count) {
  Append("- " + childTable + " (" + std::to_string(position) + " de " + std::to_string(count) +
         ")");
  Append(kLoading);
}

void TOrphanLog::ChildLoaded(std::size_t rows) {
  ReplaceLast(std::string(kLoading) + " " + std::to_string(rows) + " registros");
  Append(kAnalysing);
}

void TOrphanLog::ChildAnalysed(std::size_t rows) {
  long long shownPercent = -1;
  for (std::size_t position = 1; position <= rows; ++position) {
    const long long percent = static_cast<long long>(position) * 100 / static_cast<long long>(rows);
    if (percent == shownPercent) {
      continue;
    }
    shownPercent = percent;
    const std::string line =
        kAnalysing + percentText(static_cast<long long>(position), static_cast<long long>(rows));
    if (context_.RunLog().empty() || context_.RunLog().back() != line) {
      ReplaceLast(line);
    }
  }
  Append("");
}

void TOrphanLog::Close(const std::vector<std::string>& missingKeys, const std::string& parentTable,
                       const std::string& keyFieldLabel) {
  if (missingKeys.empty()) {
    Append("Nenhuma ocorrência encontrada.");
    return;
  }
  Append("Ocorrências: " + std::to_string(missingKeys.size()) + " (itens ausentes em " +
         parentTable + "[" + keyFieldLabel + "])");
  for (const std::string& key : missingKeys) {
    Append(key);
  }
  Append(Rule());
  Append("");
}

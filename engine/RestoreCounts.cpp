#include "engine/RestoreCounts.h"

#include <cctype>

#include "engine/TextUtil.h"

namespace {

// The text after `prefix` at the start of `line`, trimmed; empty when the
// line does not start so.
std::string After(const std::string& line, const std::string& prefix) {
  return line.starts_with(prefix) ? TrimText(line.substr(prefix.size())) : std::string();
}

}  // namespace

std::optional<IRecoverySteps::RowCounts> RowCountsFromRestore(
    const std::vector<std::string>& output) {
  IRecoverySteps::RowCounts counts;
  std::string current;
  bool named = false;
  for (const std::string& line : output) {
    if (const std::string table = After(line, "gbak:restoring table "); !table.empty()) {
      counts.emplace(table, 0);
      named = true;
      continue;
    }
    if (const std::string data = After(line, "gbak:restoring data for table "); !data.empty()) {
      current = data;
      continue;
    }
    const std::string text = TrimText(line.starts_with("gbak:") ? line.substr(5) : std::string());
    if (text.ends_with(" is a view") && text.starts_with("table ")) {
      counts.erase(text.substr(6, text.size() - 6 - 10));
      continue;
    }
    const std::size_t digits = text.find_first_not_of("0123456789");
    if (!current.empty() && digits != 0 && digits != std::string::npos &&
        text.substr(digits) == " records restored") {
      counts[current] = std::stoll(text.substr(0, digits));
    }
  }
  if (!named) {
    return std::nullopt;
  }
  return counts;
}

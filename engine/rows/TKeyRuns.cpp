#include "engine/rows/TKeyRuns.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "engine/firebird/SqlName.h"

std::optional<TKeyRuns::TRuns> TKeyRuns::Read(TConnection& connection, const std::string& table,
                                              const std::string& column) {
  const std::string name = SqlName(column);
  TIBQuery runs;
  runs.SetDatabase(&connection.Database());
  runs.SetParamCheck(false);  // ":k" is the block's own variable
  // A key equal to the one before (a key held twice) stays in its run; the
  // comparison never overflows at the ends of BIGINT.
  runs.SQL().SetText(
      "execute block returns (S bigint, E bigint) as declare p bigint; declare k bigint;"
      " begin for select " +
      name + " from " + SqlName(table) + " where " + name +
      " is not null order by 1 into :k do"
      " begin if (p is null) then S = k; else if (k <> p) then begin"
      " if (k < p or k - 1 <> p) then begin E = p; suspend; S = k; end end p = k; end"
      " if (p is not null) then begin E = p; suspend; end end");
  TRuns result;
  try {
    runs.Open();
    while (!runs.AtEnd()) {
      result.emplace_back(std::stoll(runs.Fields(0).AsString()),
                          std::stoll(runs.Fields(1).AsString()));
      runs.Next();
    }
    runs.Close();
  } catch (const std::exception&) {
    return std::nullopt;
  }
  // Each run holds only values the table has, but the server's order may put
  // one out of place (BIGINT's smallest after -1).
  return Normalised(std::move(result));
}

TKeyRuns::TRuns TKeyRuns::Normalised(TRuns runs) {
  std::sort(runs.begin(), runs.end());
  TRuns merged;
  for (const auto& run : runs) {
    // Sorted: a run after another starts above the smallest value, so
    // first - 1 cannot overflow.
    if (!merged.empty() &&
        (run.first <= merged.back().second || run.first - 1 == merged.back().second)) {
      merged.back().second = std::max(merged.back().second, run.second);
    } else {
      merged.push_back(run);
    }
  }
  return merged;
}

TKeyRuns::TRuns TKeyRuns::Missing(const TRuns& runs, const TRuns& held) {
  TRuns missing;
  std::size_t h = 0;
  for (auto [first, last] : runs) {
    while (h < held.size() && held[h].second < first) {
      ++h;
    }
    for (std::size_t k = h; first <= last; ++k) {
      if (k == held.size() || held[k].first > last) {
        missing.emplace_back(first, last);
        break;
      }
      if (held[k].first > first) {
        missing.emplace_back(first, held[k].first - 1);
      }
      if (held[k].second >= last) {
        break;
      }
      first = held[k].second + 1;
    }
  }
  return missing;
}

unsigned long long TKeyRuns::Count(const TRuns& runs) {
  unsigned long long count = 0;
  for (const auto& [first, last] : runs) {
    count += static_cast<unsigned long long>(last) - static_cast<unsigned long long>(first) + 1;
  }
  return count;
}

bool TKeyRuns::Contains(const TRuns& runs, long long value) {
  const auto after = std::upper_bound(
      runs.begin(), runs.end(), value,
      [](long long v, const std::pair<long long, long long>& run) { return v < run.first; });
  return after != runs.begin() && std::prev(after)->second >= value;
}

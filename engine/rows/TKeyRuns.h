#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/firebird/TConnection.h"

// The values of an integer key as runs of consecutive values: what a table
// holds told in a few rows when its keys are mostly consecutive (a damaged
// page's rows are one gap), so that two databases' keys compare without
// fetching every key of either.
class TKeyRuns {
 public:
  // First and last value of each run, ascending, neither overlapping nor
  // touching.
  using TRuns = std::vector<std::pair<long long, long long>>;

  // The runs of `column` (SMALLINT, INTEGER or BIGINT) of `table`, found by
  // the server walking the key in order in an execute block; NULLs left out.
  // Nothing when the server cannot give them. Needs `connection` attached.
  static std::optional<TRuns> Read(TConnection& connection, const std::string& table,
                                   const std::string& column);
  // The values of `runs` that `held` lacks, as runs.
  static TRuns Missing(const TRuns& runs, const TRuns& held);
  // How many values the runs hold.
  static unsigned long long Count(const TRuns& runs);
  static bool Contains(const TRuns& runs, long long value);
  // Sorts runs of values read in any order and joins those that overlap or
  // touch.
  static TRuns Normalised(TRuns runs);
};

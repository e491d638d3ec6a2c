#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/run/IRecoverySteps.h"

// The rows per table a finished verbose restore wrote, read from its output:
// "gbak:restoring table X" names every table (a view is followed by "table X
// is a view"), "gbak:restoring data for table X" starts its rows and the last
// "gbak:   N records restored" after it gives their number. A table without
// a data line restored empty. Nothing when the output names no table. Saves
// counting a whole restored database row by row for the report.
std::optional<IRecoverySteps::RowCounts> RowCountsFromRestore(
    const std::vector<std::string>& output);

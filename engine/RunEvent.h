#pragma once

#include <memory>
#include <string>
#include <variant>

#include "engine/RunTypes.h"

class TRunRecord;

// The news a run gives its front end without waiting for it: a front end
// shows them as they come and never answers one. Questions and notices,
// which wait for the operator, are IRecoveryHost's other calls.

// One change of a step's row.
struct StepChanged {
  StepKey key = StepKey::AcessoExclusivo;
  StepPhase phase = StepPhase::NotApplicable;
  StepOutcome outcome = StepOutcome::None;
  std::string text;
};
// A line added at the end of the log.
struct LogAppended {
  std::string line;
};
// A server task's progress: line `index` of the log (counted from 0 since
// the last LogCleared) now reads `line`. Nothing when there is no such line.
struct LogProgress {
  int index = 0;
  std::string line;
};
struct LogCleared {};
// The log as it stands is the saved log of step `key` (the final validation
// files its output under step 3).
struct StepLogFiled {
  StepKey key = StepKey::AcessoExclusivo;
};
// The rows of `level` come into use: level 2 as the orphan search begins.
struct LevelEntered {
  int level = 1;
};
struct RunBegan {};
// The run's display ends: only the closing message follows. `record` is the
// whole record of the run, as it stands at its end.
struct RunEnded {
  std::shared_ptr<const TRunRecord> record;
};

using RunEvent = std::variant<StepChanged, LogAppended, LogProgress, LogCleared, StepLogFiled,
                              LevelEntered, RunBegan, RunEnded>;

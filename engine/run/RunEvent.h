#pragma once

#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "engine/run/RunTypes.h"

class TRunRecord;

// The news a run gives its front end without waiting for it: a front end
// shows them as they come and never answers one. Questions and notices,
// which wait for the operator, are IRecoveryHost's other calls.

// Lines that nobody changes once they are made: the run's record, its copies
// and a front end on another thread share them without a lock.
using SharedLines = std::shared_ptr<const std::vector<std::string>>;

// One change of a step's row. `rowLog` is what the row's "Ver log" shows
// now, read from the run's record (TRunRecord::RowLog) as the event leaves
// the run (TRunHost), which adds it: hence the constructor, which may leave
// it out. Null while this run has given the row nothing to show; the row then
// keeps what an earlier run gave it.
struct StepChanged {
  StepChanged() = default;
  StepChanged(StepKey key, StepPhase phase, StepOutcome outcome, std::string text,
              SharedLines rowLog = nullptr)
      : key(key),
        phase(phase),
        outcome(outcome),
        text(std::move(text)),
        rowLog(std::move(rowLog)) {}

  StepKey key = StepKey::AcessoExclusivo;
  StepPhase phase = StepPhase::NotApplicable;
  StepOutcome outcome = StepOutcome::None;
  std::string text;
  SharedLines rowLog;
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
// files its output under step 3); `rowLog` as in StepChanged, for row `key`.
struct StepLogFiled {
  StepLogFiled() = default;
  explicit StepLogFiled(StepKey key, SharedLines rowLog = nullptr)
      : key(key), rowLog(std::move(rowLog)) {}

  StepKey key = StepKey::AcessoExclusivo;
  SharedLines rowLog;
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

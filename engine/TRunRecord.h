#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "engine/IRecoverySteps.h"
#include "engine/MessageTypes.h"
#include "engine/RunTypes.h"
#include "engine/TInconsistency.h"

// What happened in one run, kept for its report: every change of a step row
// with its times, every question with its answer, the run log's lines under
// the step that wrote them, and the facts the run hands over at the end of
// its steps. Fed on the engine's thread only. Nothing here is ever given a
// password.
class TRunRecord {
 public:
  using TimePoint = std::chrono::system_clock::time_point;
  using Clock = std::function<TimePoint()>;

  struct Step {
    StepKey key = StepKey::AcessoExclusivo;
    bool reported = false;
    StepPhase phase = StepPhase::NotApplicable;
    StepOutcome outcome = StepOutcome::None;
    std::string text;
    bool timed = false;  // it ran: `started` holds when
    TimePoint started{};
    TimePoint ended{};  // equal to `started` until the step finished
    // Texts the row showed while running ("Cancelando… aguardando o servidor").
    std::vector<std::string> notes;
    // The run log's lines the step wrote, one block per emptying or filing.
    std::vector<std::vector<std::string>> logs;
  };

  struct Asked {
    int step = 0;  // the step that was running; 0 when none was
    TimePoint when{};
    std::string text;
    MessageKind kind = MessageKind::Information;
    MessageButtons buttons = MessageButtons::Ok;
    // "Sim", "Não", "OK", or the file picked; empty when never answered.
    std::string answer;
  };

  // Row counts of one database, or why there are none.
  struct Counts {
    bool taken = false;
    IRecoverySteps::RowCounts rows;
    std::string error;
  };

  // What only the run knows; it fills these in as it goes.
  struct RunFacts {
    std::string user;
    std::string serverVersion;                               // or why it is unknown
    std::vector<std::pair<std::string, std::string>> paths;  // label, path
    std::vector<std::string> filesMade;
    std::vector<std::string> foreignKeyLines;
    std::vector<TInconsistency> orphans;
    // Rows the salvage added per parent table; `error` when not counted.
    Counts salvaged;
    Counts result;       // the restored result
    Counts olderBackup;  // the temporary database of the older backup
    // Per table: rows the damage took that came back from the older backup,
    // and those that are gone.
    TableLosses losses;
    RunVerdict verdict = RunVerdict::NotValidated;
    bool windowClosed = false;  // the front end went away during the run
    std::string closingText;    // "\r" breaks lines, as in the boxes
  };

  explicit TRunRecord(Clock clock = SystemClock());
  static Clock SystemClock();

  // --- fed by the run's context -------------------------------------------
  // `log` is the run log as it stands: a step that ends keeps its new lines.
  void StepReported(StepKey key, StepPhase phase, StepOutcome outcome, const std::string& text,
                    const std::vector<std::string>& log);
  // Returns the question's place, for QuestionAnswered.
  std::size_t QuestionAsked(const Question& question);
  void QuestionAnswered(std::size_t index, MessageAnswer answer);
  std::size_t PickerAsked(const std::string& folder);
  void PickerAnswered(std::size_t index, const std::string& chosen);
  // The run log is about to be emptied: lines not yet kept go to the step
  // running now.
  void LogClearing(const std::vector<std::string>& log);
  // A step's output was filed (SnapshotStepLog): lines not yet kept go to the
  // step running now, else to `key`.
  void LogFiled(StepKey key, const std::vector<std::string>& log);
  // The end of the run: a step cut short keeps its lines and ends now, and
  // the run's clock stops.
  void RunEnded(const std::vector<std::string>& log);

  // --- read back ------------------------------------------------------------
  RunFacts& Facts() { return facts_; }
  const RunFacts& Facts() const { return facts_; }
  const std::vector<Step>& Steps() const { return steps_; }
  const std::vector<Asked>& Questions() const { return questions_; }
  TimePoint Started() const { return started_; }
  TimePoint Ended() const { return ended_; }

 private:
  Step& At(StepKey key) { return steps_[static_cast<std::size_t>(StepNumber(key) - 1)]; }
  // Appends the lines after the kept ones to `key`'s blocks.
  void KeepNewLines(StepKey key, const std::vector<std::string>& log);

  Clock clock_;
  std::vector<Step> steps_;
  std::vector<Asked> questions_;
  RunFacts facts_;
  bool begun_ = false;
  TimePoint started_{};
  TimePoint ended_{};
  int openStep_ = 0;      // the step running now, 0 when none
  std::size_t kept_ = 0;  // leading lines of the run log already kept
};

#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/run/IRecoverySteps.h"
#include "engine/run/MessageTypes.h"
#include "engine/run/RunEvent.h"
#include "engine/run/RunTypes.h"
#include "engine/run/TInconsistency.h"

// What happened in one run, kept for its report and for what the front ends
// show: every change of a step row with its times, every question with its
// answer, the run log's lines under the step that wrote them, the log as it
// stood when it was filed under a step, and the facts the run hands over at
// the end of its steps. Fed on the engine's thread only; a front end on
// another thread reads a copy, or lines the record shares (SharedLines).
// Nothing here is ever given a password.
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
    // The whole run log as it stood when it was last filed under this step's
    // key (SnapshotStepLog); null when it never was.
    SharedLines filed;
    // The whole run log as it stood when the step ended, for a step that
    // filed nothing while it ran (a step that did is read from `filed`).
    SharedLines shownAtEnd;
  };

  struct Asked {
    int step = 0;  // the step that was running; 0 when none was
    TimePoint when{};
    std::string text;
    MessageKind kind = MessageKind::Information;
    MessageButtons buttons = MessageButtons::Ok;
    // "Sim", "Não", "OK", or the file picked; empty when never answered.
    std::string answer;
    // How many lines the running step had written when it was asked.
    std::size_t line = 0;
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
  // Returns the question's place, for QuestionAnswered. `log` is the run log
  // as it stands, to place the question among the step's lines.
  std::size_t QuestionAsked(const Question& question, const std::vector<std::string>& log);
  void QuestionAnswered(std::size_t index, MessageAnswer answer);
  std::size_t PickerAsked(const std::string& folder);
  void PickerAnswered(std::size_t index, const std::string& chosen);
  // The run log is about to be emptied: lines not yet kept go to the step
  // running now.
  void LogClearing(const std::vector<std::string>& log);
  // A step's output was filed (SnapshotStepLog): lines not yet kept go to the
  // step running now, else to `key`, and `log` becomes the saved log of `key`.
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

  // What the "Ver log" of a step's row shows: the saved log of steps 3 to 6
  // and 8 to 10 (the run log as last filed under the step); for steps 1 and
  // 2 the lines they wrote and the questions asked while they ran, in order,
  // else their row's text; for step 7 the log as it stood at its end; for
  // step 11, once ended, the saved log of step 3, where the final
  // validation files its output. Null while this run has nothing for the
  // row, and for a key outside the eleven steps.
  SharedLines RowLog(StepKey key) const;
  // Steps whose row shows a saved log: 3 to 6 and 8 to 10.
  static bool HasSavedLog(StepKey key);

 private:
  Step& At(StepKey key) { return steps_[static_cast<std::size_t>(StepNumber(key) - 1)]; }
  const Step& At(StepKey key) const {
    return steps_[static_cast<std::size_t>(StepNumber(key) - 1)];
  }
  // Appends the lines after the kept ones to `key`'s blocks.
  void KeepNewLines(StepKey key, const std::vector<std::string>& log);
  // The running step ends at `when` with the run log `log`.
  void EndOpenStep(const std::vector<std::string>& log, TimePoint when);
  // Steps 1 and 2: their lines with their questions among them.
  SharedLines LinesAndQuestions(const Step& step) const;

  Clock clock_;
  std::vector<Step> steps_;
  std::vector<Asked> questions_;
  RunFacts facts_;
  bool begun_ = false;
  TimePoint started_{};
  TimePoint ended_{};
  int openStep_ = 0;            // the step running now, 0 when none
  std::size_t kept_ = 0;        // leading lines of the run log already kept
  bool openStepFiled_ = false;  // the running step filed the log
};

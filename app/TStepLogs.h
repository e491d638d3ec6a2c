#pragma once

#include <QString>
#include <QStringList>
#include <map>
#include <optional>

#include "engine/RunTypes.h"

// What the "Ver log" link of each step row shows. The service steps (3 to 6
// and 8 to 10) file the log pane as it stood when they ended; steps 1 and 2
// keep the lines and questions shown while they ran; step 7 keeps the pane
// as it stood at its end; step 11 shows the last validation's log.
class TStepLogs {
 public:
  TStepLogs();

  // A row changed: a step that starts becomes the current one.
  void StepReported(StepKey key, StepPhase phase, const QString& shownLog);
  // No step runs (before and after a run).
  void NoCurrentStep() { current_.reset(); }
  // A line appended to the log pane, and a question shown, while the
  // current step runs.
  void LineWritten(const QString& line);
  void QuestionAsked(const QString& displayText);
  // Files the pane's text as the saved log of `key`, for steps that keep one.
  void Snapshot(StepKey key, const QString& shownLog);

  // The saved log of `key` (empty for steps without one).
  QStringList Saved(StepKey key) const;
  // What the link of `key` shows; `result` is the row's result text, shown
  // by steps 1 and 2 when they left nothing else.
  QStringList ForRow(StepKey key, const QString& result) const;

 private:
  static bool KeepsSavedLog(StepKey key);
  // Steps 1 and 2, which keep what was shown while they ran.
  bool CurrentKeepsLines() const;

  std::map<StepKey, QStringList> saved_;
  std::map<StepKey, QStringList> rowLogs_;
  std::optional<StepKey> current_;
};

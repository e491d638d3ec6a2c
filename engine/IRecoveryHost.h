#pragma once

#include <string>

#include "engine/MessageTypes.h"

// What the recovery engine asks of the front end that shows a run. Every call
// is made on the engine's thread and returns only when the front end has
// carried it out (the window hands each one to its UI thread and waits).
// A front end that can no longer show anything (its window is closing) may
// throw ERunAborted (engine/ERunAborted.h) from any call: the run then ends
// at once without calling it again.
class IRecoveryHost {
 public:
  virtual ~IRecoveryHost() = default;

  // One change of a step row. phase: 0 not applicable, 1 running, 2 finished;
  // outcome: 10 success, 20 failure, 0 neither.
  virtual void ReportStep(int key, int phase, int outcome, const std::string& text) = 0;
  // A modal message box; returns the button pressed.
  virtual MessageAnswer AskUser(const std::string& text, MessageKind kind,
                                MessageButtons buttons) = 0;
  virtual void ClearLog() = 0;
  // index < 0 appends a line; index >= 0 replaces that line.
  virtual void WriteLog(const std::string& text, int index) = 0;
  // Files the log view's text as the saved log of step `key` (3, 4, 5, 6, 8, 9, 10).
  virtual void SnapshotStepLog(int key) = 0;
  virtual void BeginRunDisplay() = 0;
  virtual void EndRunDisplay() = 0;
  virtual void SetLevelRowsEnabled(bool enabled, int level) = 0;
  // Asks "Deseja escolher um arquivo?" and, on Yes, empties backupPath and shows
  // the backup picker; a confirmed file becomes backupPath. On No, backupPath is
  // left unchanged.
  virtual void AskForBackupFile(std::string& backupPath) = 0;
};

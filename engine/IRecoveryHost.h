#pragma once

#include <optional>
#include <string>

#include "engine/MessageTypes.h"
#include "engine/RunTypes.h"
#include "engine/TCredentials.h"

// What the recovery engine asks of the front end that shows a run: the window,
// the command line and the tests' scripted host each implement it. Every call
// is made on the engine's thread and returns only when the front end has
// carried it out. A front end that can no longer show anything, or that cannot
// answer a question, may throw ERunAborted (engine/ERunAborted.h) from any
// call: the run then ends at once, cleans up after itself and calls nothing
// more.
class IRecoveryHost {
 public:
  virtual ~IRecoveryHost() = default;

  // One change of a step row.
  virtual void ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                          const std::string& text) = 0;
  // A question (or, with only OK, a notice); returns the button pressed.
  virtual MessageAnswer AskUser(const Question& question) = 0;
  virtual void ClearLog() = 0;
  // index < 0 appends a line; index >= 0 replaces that line.
  virtual void WriteLog(const std::string& text, int index) = 0;
  // Files the log's text as the saved log of step `key`.
  virtual void SnapshotStepLog(StepKey key) = 0;
  virtual void BeginRunDisplay() = 0;
  virtual void EndRunDisplay() = 0;
  virtual void SetLevelRowsEnabled(bool enabled, int level) = 0;
  // Lets the user pick an older backup (*.fbk), starting in `folder`; nothing
  // when the user picked none.
  virtual std::optional<std::string> ChooseBackupFile(const std::string& folder) = 0;
  // The server refused the login: asks for another user and password.
  // Nothing when the user gave up. `reason` is the server's message.
  virtual std::optional<TCredentials> AskCredentials(const std::string& user,
                                                     const std::string& reason) = 0;
};

#pragma once

#include <mutex>

#include "cli/TCliOptions.h"
#include "cli/TConsole.h"
#include "cli/TConsoleHost.h"
#include "cli/TJsonSummary.h"

class TThreadRecovery;

// One use of the program after its options were read: the checks before a
// run, the question about a missing older backup, the run itself on the
// engine's thread with Ctrl+C turned into a cancel, the closing message, the
// summary file and the exit status.
class TCliRun {
 public:
  explicit TCliRun(const TCliOptions& options);
  TCliRun(const TCliRun&) = delete;
  TCliRun& operator=(const TCliRun&) = delete;

  // Returns the exit status.
  int Execute();

 private:
  // Why the given files cannot be used, or empty.
  std::string InputProblem() const;
  void CancelRequested();
  // Asks whether to go on without an older backup; on No, or with no answer,
  // says why nothing was done and fills `contents` in.
  bool StartWithoutBackup(TJsonSummary::Contents& contents);
  // The run on the engine's thread, until its end.
  void Run(const std::string& database, const TCredentials& credentials,
           TJsonSummary::Contents& contents);

  const TCliOptions& options_;
  TConsole console_;
  TConsoleHost host_;
  std::mutex runMutex_;
  TThreadRecovery* run_ = nullptr;  // the run in progress, for a cancel
};

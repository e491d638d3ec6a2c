#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "engine/run/IRecoveryHost.h"
#include "engine/run/StepResult.h"
#include "engine/run/TRunHost.h"
#include "engine/run/TRunRecord.h"

// What one run shares with its step routines: the front end, the two paths,
// the run log and the operator's cancel. The log methods change the engine's
// own copy of the lines first and then hand the same change to the front end
// as an event (engine/RunEvent.h), which does not wait for it.
// Every hand-over first looks at the cancel: once asked for, it throws
// ERunAborted(Cancelled) instead, so the run stops at its next call. What
// passes through (rows, questions and answers, log lines) also goes into
// the run's record, before the front end sees it, so that a front end that
// fails cannot take it out of the report.
class TRecoveryContext {
 public:
  TRecoveryContext(IRecoveryHost& host, std::string databasePath, std::string backupPath);

  // The run's display and the login question, as events and calls.
  const TRunHost& Host() const { return host_; }
  const std::string& DatabasePath() const { return databasePath_; }
  const std::string& BackupPath() const { return backupPath_; }
  void SetBackupPath(const std::string& path) { backupPath_ = path; }

  // The login of every connection and service request of the run.
  const TCredentials& Credentials() const { return credentials_; }
  void SetCredentials(const TCredentials& credentials) { credentials_ = credentials; }

  const std::vector<std::string>& RunLog() const { return runLog_; }
  // The run log's lines, each followed by a line break.
  std::string RunLogText() const;

  void ClearLog();
  // index < 0 appends; index >= 0 replaces that line (only existing lines).
  void WriteLog(const std::string& text, int index = -1);
  void SnapshotStepLog(StepKey key);
  void ReportStep(StepKey key, StepPhase phase, StepOutcome outcome, const std::string& text);
  // A question with Sim and Não.
  MessageAnswer Ask(QuestionId id, const std::string& text, MessageKind kind,
                    MessageAnswer defaultAnswer = MessageAnswer::Yes);
  // A notice with OK only.
  void Tell(const std::string& text, MessageKind kind);
  // The error box of a routine stopped by an error: "<routine>() -> Excetion:
  // <error>"; nothing for a routine that only answered no.
  void TellRaised(const char* routine, const StepResult& result);
  MessageAnswer AskUser(const Question& question);
  // Asks "Deseja escolher um arquivo?" and, on Yes, lets the user pick an
  // older backup; the file picked, or none, becomes BackupPath(). On No the
  // path stays.
  void AskForBackupFile();

  // Safe from any thread: the front end asks the run to stop.
  void RequestCancel() { cancelRequested_ = true; }
  bool CancelRequested() const { return cancelRequested_; }
  // Throws ERunAborted(Cancelled) when a cancel was asked for and the run has
  // not yet begun to clean up.
  void ThrowIfCancelled() const;
  // The run is cleaning up after a stop: calls go through again.
  void StopThrowingOnCancel() { cancelThrows_ = false; }

  // What happened so far, for the run's report.
  TRunRecord& Record() { return record_; }
  const TRunRecord& Record() const { return record_; }

 private:
  TRunRecord record_;  // before host_, which hands it over
  TRunHost host_;
  std::string databasePath_;
  std::string backupPath_;
  std::vector<std::string> runLog_;
  TCredentials credentials_ = TCredentials::BuiltIn();
  std::atomic<bool> cancelRequested_{false};
  std::atomic<bool> cancelThrows_{true};
};

#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/TAnswerBook.h"
#include "cli/TConsole.h"
#include "cli/TTerminalInput.h"
#include "engine/IRecoveryHost.h"

// The command line's front end of a run: one line per change of a step's row
// ("[ 5/11] Fazer backup ... Backup em: ..."), the server's output with
// --verbose, the table being backed up or restored on the terminal's status
// line, the questions answered from the command line or on the terminal, and
// the closing message. Keeps each step's outcome and time for the summary.
class TConsoleHost : public IRecoveryHost {
 public:
  struct Settings {
    bool verbose = false;
    TAnswerBook answers;
    // Offered the first time the run asks for an older backup.
    std::string backupOnDemand;
  };

  // What became of one step row.
  struct StepRecord {
    StepKey key;
    StepPhase phase;
    StepOutcome outcome;
    std::string text;
    double seconds = 0;
  };

  TConsoleHost(TConsole& console, Settings settings);

  // Safe from any thread: the operator asked to cancel. A question waiting
  // for its answer stops waiting and the run ends.
  void NotifyCancelled() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

  // Whether the closing message was shown (the run ended normally or after
  // a cancel), and its text.
  bool ClosingShown() const;
  std::vector<StepRecord> Steps() const;

  // The step row texts as printed: "[ 5/11] Fazer backup ...".
  static std::string StepLabel(StepKey key);
  // The table named by a backup's or restore's verbose line, or empty.
  static std::string TableOfServerLine(const std::string& line);

  // --- IRecoveryHost ----------------------------------------------------
  void ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                  const std::string& text) override;
  MessageAnswer AskUser(const Question& question) override;
  void ClearLog() override;
  void WriteLog(const std::string& text, int index) override;
  void SnapshotStepLog(StepKey key) override;
  void BeginRunDisplay() override;
  void EndRunDisplay() override;
  void SetLevelRowsEnabled(bool enabled, int level) override;
  std::optional<std::string> ChooseBackupFile(const std::string& folder) override;
  std::optional<TCredentials> AskCredentials(const std::string& user,
                                             const std::string& reason) override;

 private:
  MessageAnswer AskYesNo(const Question& question);
  // Prints the log line that could still be replaced.
  void FlushPendingLine();
  // Waits a little before an automatic retry, so that a retry is worth it.
  void PauseBeforeRetry() const;
  [[noreturn]] void Unanswered(const Question& question, const std::string& why) const;

  TConsole& console_;
  Settings settings_;
  std::atomic<bool> cancelled_{false};
  TTerminalInput input_;

  mutable std::mutex mutex_;
  std::vector<StepRecord> steps_;
  std::chrono::steady_clock::time_point stepStart_;
  std::string stepStatus_;  // the running step's label, for the status line
  std::optional<std::string> pendingLine_;
  bool runDisplayEnded_ = false;
  bool closingShown_ = false;
  bool backupOnDemandOffered_ = false;
};

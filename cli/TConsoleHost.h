#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include "cli/TAnswerBook.h"
#include "cli/TConsole.h"
#include "cli/TTerminalInput.h"
#include "engine/run/IRecoveryHost.h"

// The command line's front end of a run: one line per change of a step's row
// ("[ 5/11] Fazer backup ... Backup em: ..."), the server's output with
// --verbose, the table being backed up or restored on the terminal's status
// line, the questions answered from the command line or on the terminal, and
// the closing message. The summary reads the run's own record.
class TConsoleHost : public IRecoveryHost {
 public:
  struct Settings {
    bool verbose = false;
    TAnswerBook answers;
    // Offered the first time the run asks for an older backup.
    std::string backupOnDemand;
  };

  TConsoleHost(TConsole& console, Settings settings);

  // Safe from any thread: the operator asked to cancel. A question waiting
  // for its answer stops waiting and the run ends.
  void NotifyCancelled() { cancelled_ = true; }
  bool Cancelled() const { return cancelled_; }

  // Whether the closing message was shown (the run ended normally or after
  // a cancel), and its text.
  bool ClosingShown() const;

  // The step row texts as printed: "[ 5/11] Fazer backup ...".
  static std::string StepLabel(StepKey key);
  // The table named by a backup's or restore's verbose line, or empty.
  static std::string TableOfServerLine(const std::string& line);

  // --- IRecoveryHost ----------------------------------------------------
  void Notify(const RunEvent& event) override;
  MessageAnswer AskUser(const Question& question) override;
  std::optional<std::string> ChooseBackupFile(const std::string& folder) override;
  std::optional<TCredentials> AskCredentials(const std::string& user,
                                             const std::string& reason) override;

 private:
  // Each event on the console; the caller holds mutex_.
  void Show(const StepChanged& event);
  void Show(const LogAppended& event) { ShowLogLine(event.line, true); }
  void Show(const LogProgress& event) { ShowLogLine(event.line, false); }
  void Show(const LogCleared&) { FlushPendingLine(); }
  void Show(const StepLogFiled&) { FlushPendingLine(); }
  void Show(const LevelEntered&) {}
  void Show(const RunBegan&) {}
  void Show(const RunEnded&);
  // A server line: the table it names on the status line, the line itself
  // with --verbose.
  void ShowLogLine(const std::string& line, bool appended);
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
  std::string stepStatus_;  // the running step's label, for the status line
  std::optional<std::string> pendingLine_;
  bool runDisplayEnded_ = false;
  bool closingShown_ = false;
  bool backupOnDemandOffered_ = false;
};

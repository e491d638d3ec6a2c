#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/run/IRecoveryHost.h"
#include "engine/run/IRecoverySteps.h"
#include "engine/run/TRecoveryContext.h"

// One repair run on a thread of its own. The thread starts as soon as the
// object is built and ends after the closing message has been answered; it
// reaches the front end only through `host`.
class TThreadRecovery {
 public:
  using StepsFactory = std::function<std::unique_ptr<IRecoverySteps>(TRecoveryContext&)>;

  // Creates the step routines on the calling thread, then starts Execute on a
  // std::thread of its own at once. The database path is resolved first
  // (links followed), and `credentials` log in every connection and service.
  TThreadRecovery(IRecoveryHost& host, const std::string& databasePath,
                  const std::string& backupPath, StepsFactory factory,
                  const TCredentials& credentials = TCredentials::BuiltIn());
  // Joins the thread, so it waits for the run to end: a front end that goes
  // away during a run must first make its calls throw ERunAborted.
  ~TThreadRecovery();

  TThreadRecovery(const TThreadRecovery&) = delete;
  TThreadRecovery& operator=(const TThreadRecovery&) = delete;

  bool Finished() const;                            // Execute has returned
  bool WaitFor(std::chrono::milliseconds timeout);  // true when finished

  // Safe from any thread: the run stops at its next call, cleans up after
  // itself and ends with the verdict Cancelled.
  void Cancel() { context_.RequestCancel(); }

  // How the run ended; valid once Finished().
  RunVerdict Verdict() const;
  std::string ClosingText() const;
  std::vector<std::string> FilesMade() const;
  // The run's report file; empty when it made none.
  std::string ReportPath() const;
  // Per table the damage touched: rows back from the older backup, rows gone.
  TableLosses Losses() const;
  // What happened in the run: its steps with their times and logs, questions
  // and facts. Empty until Finished().
  std::shared_ptr<const TRunRecord> Record() const;

 private:
  void Execute();

  TRecoveryContext context_;
  std::unique_ptr<IRecoverySteps> steps_;
  mutable std::mutex mutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
  RunVerdict verdict_ = RunVerdict::NotValidated;
  std::string closingText_;
  std::vector<std::string> filesMade_;
  std::string reportPath_;
  TableLosses losses_;
  std::shared_ptr<const TRunRecord> record_;
  std::thread thread_;  // last: starts once everything above exists
};

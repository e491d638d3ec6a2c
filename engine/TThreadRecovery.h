#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/IRecoveryHost.h"
#include "engine/IRecoverySteps.h"
#include "engine/TRecoveryContext.h"

// One repair run on a thread of its own. The thread starts as soon as the
// object is built and ends after the closing message has been answered; it
// reaches the front end only through `host`.
class TThreadRecovery {
 public:
  using StepsFactory = std::function<std::unique_ptr<IRecoverySteps>(TRecoveryContext&)>;

  // Creates the step routines on the calling thread, then starts Execute on a
  // std::thread of its own at once.
  TThreadRecovery(IRecoveryHost& host, const std::string& databasePath,
                  const std::string& backupPath, StepsFactory factory);
  // Joins the thread, so it waits for the run to end: a front end that goes
  // away during a run must first make its calls throw ERunAborted.
  ~TThreadRecovery();

  TThreadRecovery(const TThreadRecovery&) = delete;
  TThreadRecovery& operator=(const TThreadRecovery&) = delete;

  bool Finished() const;                            // Execute has returned
  bool WaitFor(std::chrono::milliseconds timeout);  // true when finished
  static StepsFactory DefaultSteps();               // the real Firebird routines

 private:
  void Execute();

  TRecoveryContext context_;
  std::unique_ptr<IRecoverySteps> steps_;
  mutable std::mutex mutex_;
  std::condition_variable finishedChanged_;
  bool finished_ = false;
  std::thread thread_;  // last: starts once everything above exists
};

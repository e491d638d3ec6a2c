#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>

#include "engine/run/TThreadRecovery.h"

class TFPrincipal;
class TWindowHost;

// The window's repair runs: starts each on the engine's own thread, cancels
// it, and tells the window when the run's thread has ended. The end arrives
// as the queued signal runEnded, sent by a small watcher thread that waits
// for the engine, so the UI thread never waits for a run itself.
class TRunControl : public QObject {
  Q_OBJECT

 public:
  TRunControl(TFPrincipal& window, TThreadRecovery::StepsFactory stepsFactory);
  // Cancels a run still going, closes the hand-overs and waits for its end.
  ~TRunControl() override;
  TRunControl(const TRunControl&) = delete;
  TRunControl& operator=(const TRunControl&) = delete;

  TWindowHost& Host() { return *host_; }
  // The engine of the current or last run, if any.
  TThreadRecovery* Engine() const { return engine_.get(); }
  // A run was started and its thread has not ended.
  bool Going() const;

  // Starts a run with the credentials of the moment; when the last run's
  // thread has not ended yet, once it has. startFailed when the engine could
  // not be created (the client library is missing, say).
  void Start(const QString& databasePath, const QString& backupPath);
  // The run stops at its next call, cleans up and ends as cancelled.
  void Cancel();
  bool CancelAsked() const { return cancelAsked_; }
  // The window closes once the run has ended (see closeWhenEnded).
  void CloseWindowWhenEnded() { closeWindowWhenEnded_ = true; }
  bool ClosesWindowWhenEnded() const { return closeWindowWhenEnded_; }

  // Cancels a run still going, closes the hand-overs to the window and waits
  // up to `timeout` for the engine thread; false when it is still running.
  bool EndOnExit(std::chrono::milliseconds timeout);

 signals:
  // The current run's thread has ended; Engine() holds its verdict.
  void runEnded();
  // The run could not start: the reason, in the engine's words.
  void startFailed(const QString& reason);

 private:
  struct PendingStart {
    QString databasePath;
    QString backupPath;
  };

  void Launch(const PendingStart& start);
  // Waits on a thread of its own for the engine, then wakes CheckRunEnded.
  void WatchForEnd();
  // Woken by name, carrying no data: what it reads, it reads from the
  // engine under its mutex, which ThreadSanitizer sees (Qt's event queue it
  // cannot see).
  Q_INVOKABLE void CheckRunEnded();
  void JoinWatcher();

  TThreadRecovery::StepsFactory stepsFactory_;
  std::unique_ptr<TWindowHost> host_;
  std::unique_ptr<TThreadRecovery> engine_;
  // Joinable from the start of a run until its end was taken.
  std::thread watcher_;
  std::optional<PendingStart> pending_;
  bool cancelAsked_ = false;
  bool closeWindowWhenEnded_ = false;
};

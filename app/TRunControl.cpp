#include "app/TRunControl.h"

#include <QMetaObject>
#include <exception>
#include <utility>

#include "app/TWindowHost.h"
#include "engine/firebird/TCredentialSource.h"

TRunControl::TRunControl(TFPrincipal& window, TThreadRecovery::StepsFactory stepsFactory)
    : stepsFactory_(std::move(stepsFactory)), host_(std::make_unique<TWindowHost>(window)) {}

TRunControl::~TRunControl() {
  if (engine_) {
    engine_->Cancel();
  }
  host_->Close();
  // The watcher first: it waits on the engine's own mutex.
  JoinWatcher();
  engine_.reset();
}

bool TRunControl::Going() const {
  return engine_ && !engine_->Finished();
}

void TRunControl::Start(const QString& databasePath, const QString& backupPath) {
  PendingStart start{databasePath, backupPath};
  if (Going()) {
    // The last run is handing over its closing message or cleaning up:
    // the new one starts at its end.
    pending_ = std::move(start);
    return;
  }
  Launch(start);
}

void TRunControl::Launch(const PendingStart& start) {
  JoinWatcher();
  engine_.reset();
  cancelAsked_ = false;
  closeWindowWhenEnded_ = false;
  try {
    // Read again for every run: the operator may have fixed the source.
    const TCredentials credentials = TCredentialSource::Resolve(std::nullopt, std::nullopt);
    engine_ = std::make_unique<TThreadRecovery>(*host_, start.databasePath.toStdString(),
                                                start.backupPath.toStdString(), stepsFactory_,
                                                credentials);
  } catch (const std::exception& error) {
    emit startFailed(QString::fromStdString(error.what()));
    return;
  }
  WatchForEnd();
}

void TRunControl::WatchForEnd() {
  TThreadRecovery* const engine = engine_.get();
  watcher_ = std::thread([this, engine] {
    while (!engine->WaitFor(std::chrono::seconds(60))) {
    }
    // Dropped by Qt if this object is gone by then; it is not gone before
    // this thread has been joined.
    QMetaObject::invokeMethod(this, "CheckRunEnded", Qt::QueuedConnection);
  });
}

void TRunControl::CheckRunEnded() {
  // A late wake-up of an earlier run finds the current one going, or its
  // end already taken.
  if (!watcher_.joinable() || !engine_ || !engine_->Finished()) {
    return;
  }
  JoinWatcher();
  emit runEnded();
  // A window closed meanwhile starts nothing.
  if (pending_ && !host_->Closed()) {
    const PendingStart start = *std::exchange(pending_, std::nullopt);
    Launch(start);
  }
}

void TRunControl::JoinWatcher() {
  if (watcher_.joinable()) {
    watcher_.join();
  }
}

void TRunControl::Cancel() {
  if (engine_) {
    cancelAsked_ = true;
    engine_->Cancel();
  }
}

bool TRunControl::EndOnExit(std::chrono::milliseconds timeout) {
  pending_.reset();
  if (engine_) {
    engine_->Cancel();
  }
  host_->Close();
  if (!engine_) {
    return true;
  }
  if (!engine_->WaitFor(timeout)) {
    return false;
  }
  JoinWatcher();
  engine_.reset();
  return true;
}

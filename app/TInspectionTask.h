#pragma once

#include <QObject>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "pages/TInspectionResult.h"

// The examination of a database file on a thread of its own: reading every
// page of a large file takes seconds, and the window must stay responsive
// meanwhile. The result is handed back on this object's thread.
//
// The result crosses over in a member guarded by a std::mutex, and the
// thread only wakes this object by name: ThreadSanitizer sees the mutex, not
// Qt's event queue (uninstrumented), which a result carried in the queued
// call would cross unseen.
class TInspectionTask : public QObject {
  Q_OBJECT

 public:
  using Done = std::function<void(const TInspectionResult&)>;

  TInspectionTask() = default;
  // Waits for an examination still going: it only reads, and ends by itself.
  ~TInspectionTask() override;
  TInspectionTask(const TInspectionTask&) = delete;
  TInspectionTask& operator=(const TInspectionTask&) = delete;

  // Starts examining `path`; `done` runs later on this object's thread,
  // unless this object is gone by then. Call it from that thread, and not
  // while Running().
  void Start(const std::string& path, Done done);
  // Started and its result not yet handed back. Read on this object's thread.
  bool Running() const { return running_; }

 private:
  // Hands the result over to `done_`; woken by the examining thread.
  Q_INVOKABLE void Deliver();

  std::thread thread_;
  bool running_ = false;
  Done done_;
  std::mutex mutex_;
  std::optional<TInspectionResult> result_;
};

#pragma once

#include <QObject>
#include <functional>
#include <string>
#include <thread>

#include "pages/TInspectionResult.h"

// The examination of a database file on a thread of its own: reading every
// page of a large file takes seconds, and the window must stay responsive
// meanwhile. The result is handed back on the receiver's thread.
class TInspectionTask {
 public:
  using Done = std::function<void(const TInspectionResult&)>;

  TInspectionTask() = default;
  // Waits for an examination still going: it only reads, and ends by itself.
  ~TInspectionTask();
  TInspectionTask(const TInspectionTask&) = delete;
  TInspectionTask& operator=(const TInspectionTask&) = delete;

  // Starts examining `path`; `done` runs later on `receiver`'s thread, unless
  // the receiver is gone by then. Call it from that thread, and not while
  // Running().
  void Start(QObject& receiver, const std::string& path, Done done);
  // Started and its result not yet handed back. Read on the receiver's thread.
  bool Running() const { return running_; }

 private:
  std::thread thread_;
  bool running_ = false;
};

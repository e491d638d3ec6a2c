#include "app/TInspectionTask.h"

#include <QMetaObject>
#include <exception>
#include <utility>

#include "pages/TInspection.h"

TInspectionTask::~TInspectionTask() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

void TInspectionTask::Start(const std::string& path, Done done) {
  // The last examination has handed its result over: its thread is ending.
  if (thread_.joinable()) {
    thread_.join();
  }
  running_ = true;
  done_ = std::move(done);
  thread_ = std::thread([this, path] {
    TInspectionResult result;
    try {
      result = TInspection::Run(path);
    } catch (const std::exception& error) {
      // Run reports a file it cannot open; anything else ends here too, not
      // in std::terminate.
      result = TInspectionResult{};
      result.path = path;
      result.error = error.what();
      result.verdict = {"Não foi possível examinar o arquivo: " + result.error};
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      result_ = std::move(result);
    }
    // Queued by name, carrying no data; dropped with this object, which
    // waits for this thread before it goes.
    QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
  });
}

void TInspectionTask::Deliver() {
  std::optional<TInspectionResult> result;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    result.swap(result_);
  }
  if (!result) {
    return;
  }
  running_ = false;
  done_(*result);
}

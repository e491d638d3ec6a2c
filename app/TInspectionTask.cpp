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

void TInspectionTask::Start(QObject& receiver, const std::string& path, Done done) {
  // The last examination has handed its result over: its thread is ending.
  if (thread_.joinable()) {
    thread_.join();
  }
  running_ = true;
  thread_ = std::thread([this, &receiver, path, done = std::move(done)]() mutable {
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
    // Queued: it runs on the receiver's thread, and is dropped with the
    // receiver, which waits for this thread before it goes.
    QMetaObject::invokeMethod(
        &receiver,
        [this, result = std::move(result), done = std::move(done)] {
          running_ = false;
          done(result);
        },
        Qt::QueuedConnection);
  });
}

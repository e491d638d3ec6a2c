#include "engine/TThreadRecovery.h"

#include <stdexcept>
#include <utility>

#include "engine/TFirebirdSteps.h"
#include "engine/TRecoveryRun.h"

TThreadRecovery::TThreadRecovery(IRecoveryHost& host, const std::string& databasePath,
                                 const std::string& backupPath, StepsFactory factory)
    : context_(host, databasePath, backupPath) {
  if (!factory) {
    throw std::invalid_argument("TThreadRecovery: no step routines");
  }
  steps_ = factory(context_);
  if (!steps_) {
    throw std::invalid_argument("TThreadRecovery: no step routines");
  }
  thread_ = std::thread([this] { Execute(); });
}

TThreadRecovery::~TThreadRecovery() {
  if (thread_.joinable()) {
    thread_.join();
  }
}

bool TThreadRecovery::Finished() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return finished_;
}

bool TThreadRecovery::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return finishedChanged_.wait_for(lock, timeout, [this] { return finished_; });
}

TThreadRecovery::StepsFactory TThreadRecovery::DefaultSteps() {
  return [](TRecoveryContext& context) -> std::unique_ptr<IRecoverySteps> {
    return std::make_unique<TFirebirdSteps>(context);
  };
}

void TThreadRecovery::Execute() {
  try {
    TRecoveryRun run(context_, *steps_);
    run.Execute();
  } catch (...) {
    // A front end that fails in another way than ERunAborted ends the run
    // too; nothing may escape the thread.
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

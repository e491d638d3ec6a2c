#include "engine/run/TThreadRecovery.h"

#include <stdexcept>
#include <utility>

#include "engine/run/TRecoveryRun.h"
#include "engine/run/TRunInputs.h"

TThreadRecovery::TThreadRecovery(IRecoveryHost& host, const std::string& databasePath,
                                 const std::string& backupPath, StepsFactory factory,
                                 const TCredentials& credentials)
    : context_(host, TRunInputs::ResolvedDatabasePath(databasePath), backupPath) {
  context_.SetCredentials(credentials);
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

void TThreadRecovery::Execute() {
  RunVerdict verdict = RunVerdict::NotValidated;
  std::string closingText;
  std::vector<std::string> files;
  std::string report;
  TableLosses losses;
  try {
    TRecoveryRun run(context_, *steps_);
    run.Execute();
    verdict = run.Verdict();
    closingText = run.ClosingText();
    files = run.FilesMade();
    report = run.ReportPath();
    losses = run.Losses();
  } catch (...) {
    // A front end that fails in another way than ERunAborted ends the run
    // too; nothing may escape the thread.
  }
  auto record = std::make_shared<const TRunRecord>(context_.Record());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    record_ = std::move(record);
    verdict_ = verdict;
    closingText_ = std::move(closingText);
    filesMade_ = std::move(files);
    reportPath_ = std::move(report);
    losses_ = std::move(losses);
    finished_ = true;
  }
  finishedChanged_.notify_all();
}

RunVerdict TThreadRecovery::Verdict() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return verdict_;
}

std::string TThreadRecovery::ClosingText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return closingText_;
}

std::vector<std::string> TThreadRecovery::FilesMade() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return filesMade_;
}

TableLosses TThreadRecovery::Losses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return losses_;
}

std::string TThreadRecovery::ReportPath() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return reportPath_;
}

std::shared_ptr<const TRunRecord> TThreadRecovery::Record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

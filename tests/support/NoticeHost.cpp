#include "support/NoticeHost.h"

#include <utility>

void NoticeHost::OnCall(const std::string& prefix, std::function<void()> action) {
  std::lock_guard<std::mutex> lock(triggerMutex_);
  prefix_ = prefix;
  action_ = std::move(action);
}

std::vector<std::string> NoticeHost::Notices() const {
  std::lock_guard<std::mutex> lock(noticesMutex_);
  return notices_;
}

std::string NoticeHost::ClosingMessage() const {
  std::lock_guard<std::mutex> lock(noticesMutex_);
  return notices_.empty() ? std::string() : notices_.back();
}

MessageAnswer NoticeHost::AskUser(const Question& question) {
  if (question.buttons != MessageButtons::Ok) {
    return ScriptedHost::AskUser(question);
  }
  std::lock_guard<std::mutex> lock(noticesMutex_);
  notices_.push_back(question.text);
  return MessageAnswer::Ok;
}

void NoticeHost::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                            const std::string& text) {
  ScriptedHost::ReportStep(key, phase, outcome, text);
  Reached("ReportStep " + std::to_string(StepNumber(key)) + " " +
          std::to_string(static_cast<int>(phase)) + " " +
          std::to_string(static_cast<int>(outcome)) + " " + text);
}

void NoticeHost::WriteLog(const std::string& text, int index) {
  ScriptedHost::WriteLog(text, index);
  Reached("WriteLog " + std::to_string(index) + " " + text);
}

void NoticeHost::SnapshotStepLog(StepKey key) {
  ScriptedHost::SnapshotStepLog(key);
  Reached("SnapshotStepLog " + std::to_string(StepNumber(key)));
}

void NoticeHost::Reached(const std::string& line) {
  std::function<void()> action;
  {
    std::lock_guard<std::mutex> lock(triggerMutex_);
    if (!action_ || !line.starts_with(prefix_)) {
      return;
    }
    action = std::exchange(action_, nullptr);
  }
  action();
}

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

void NoticeHost::Notify(const RunEvent& event) {
  ScriptedHost::Notify(event);
  Reached(Line(event));
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

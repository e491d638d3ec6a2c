#include "support/ScriptedHost.h"

#include <gtest/gtest.h>

void ScriptedHost::Answer(MessageAnswer answer, const std::string& textPart) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back({answer, textPart});
}

void ScriptedHost::ScriptBackupChoice(std::optional<std::string> chosen) {
  std::lock_guard<std::mutex> lock(mutex_);
  backupChoices_.push_back(std::move(chosen));
}

void ScriptedHost::RecordLogLines(bool record) {
  std::lock_guard<std::mutex> lock(mutex_);
  recordLogLines_ = record;
}

std::vector<std::string> ScriptedHost::Transcript() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return transcript_;
}

std::string ScriptedHost::TranscriptText() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text;
  for (const std::string& line : transcript_) {
    text += line;
    text += '\n';
  }
  return text;
}

std::vector<std::string> ScriptedHost::Calls(const std::string& prefix) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> calls;
  for (const std::string& line : transcript_) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      calls.push_back(line);
    }
  }
  return calls;
}

std::vector<std::string> ScriptedHost::Questions() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return questions_;
}

std::vector<std::string> ScriptedHost::LogLines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return log_;
}

std::vector<std::string> ScriptedHost::SavedLog(int key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = savedLogs_.find(key);
  return found == savedLogs_.end() ? std::vector<std::string>() : found->second;
}

std::size_t ScriptedHost::UnusedAnswers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_.size() + backupChoices_.size();
}

bool ScriptedHost::WaitForCall(const std::string& prefix, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    for (const std::string& line : transcript_) {
      if (line.compare(0, prefix.size(), prefix) == 0) {
        return true;
      }
    }
    return false;
  });
}

void ScriptedHost::Record(const std::string& line) {
  transcript_.push_back(line);
  changed_.notify_all();
}

void ScriptedHost::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                              const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("ReportStep " + std::to_string(StepNumber(key)) + " " +
         std::to_string(static_cast<int>(phase)) + " " + std::to_string(static_cast<int>(outcome)) +
         " " + text);
}

void ScriptedHost::ScriptRowsFromBackup(MessageAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  rowsFromBackup_ = answer;
}

MessageAnswer ScriptedHost::AskUser(const Question& question) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string& text = question.text;
  const MessageButtons buttons = question.buttons;
  Record(std::string("AskUser ") + KindName(question.kind) + " " + ButtonsName(buttons) + " " +
         text);
  questions_.push_back(text);
  // "Deseja escolher um arquivo?" is answered by the scripted backup choice.
  if (question.id == QuestionId::ChooseBackupFile && !backupChoices_.empty()) {
    if (!backupChoices_.front()) {
      backupChoices_.pop_front();
      pickerPending_ = false;
      return MessageAnswer::No;
    }
    pickerPending_ = true;
    return MessageAnswer::Yes;
  }
  if (question.id == QuestionId::RowsFromBackup) {
    return rowsFromBackup_.value_or(question.defaultAnswer);
  }
  if (answers_.empty()) {
    ADD_FAILURE() << "Unscripted question: " << text;
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
  }
  const ScriptedAnswer next = answers_.front();
  answers_.pop_front();
  if (!next.textPart.empty() && text.find(next.textPart) == std::string::npos) {
    ADD_FAILURE() << "The question \"" << text << "\" was expected to contain \"" << next.textPart
                  << "\"";
  }
  const bool fits = (buttons == MessageButtons::Ok) == (next.answer == MessageAnswer::Ok);
  if (!fits) {
    ADD_FAILURE() << "Scripted answer does not fit the buttons of: " << text;
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
  }
  return next.answer;
}

void ScriptedHost::ClearLog() {
  std::lock_guard<std::mutex> lock(mutex_);
  log_.clear();
  Record("ClearLog");
}

void ScriptedHost::WriteLog(const std::string& text, int index) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (index < 0) {
    log_.push_back(text);
  } else if (static_cast<std::size_t>(index) < log_.size()) {
    log_[static_cast<std::size_t>(index)] = text;
  } else {
    ADD_FAILURE() << "WriteLog replaces line " << index << " of a log of " << log_.size();
  }
  if (recordLogLines_) {
    Record("WriteLog " + std::to_string(index) + " " + text);
  }
}

void ScriptedHost::SnapshotStepLog(StepKey key) {
  std::lock_guard<std::mutex> lock(mutex_);
  savedLogs_[StepNumber(key)] = log_;
  Record("SnapshotStepLog " + std::to_string(StepNumber(key)));
}

void ScriptedHost::BeginRunDisplay() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("BeginRunDisplay");
}

void ScriptedHost::EndRunDisplay() {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("EndRunDisplay");
}

void ScriptedHost::SetLevelRowsEnabled(bool enabled, int level) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record(std::string("SetLevelRowsEnabled ") + (enabled ? "true" : "false") + " " +
         std::to_string(level));
}

std::optional<std::string> ScriptedHost::ChooseBackupFile(const std::string& folder) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> chosen;
  if (backupChoices_.empty() || !pickerPending_) {
    ADD_FAILURE() << "Unscripted ChooseBackupFile";
  } else {
    chosen = backupChoices_.front();
    backupChoices_.pop_front();
    if (chosen && chosen->empty()) {
      chosen.reset();  // the picker was cancelled
    }
  }
  pickerPending_ = false;
  Record("ChooseBackupFile " + folder + " -> " + chosen.value_or(""));
  return chosen;
}

void ScriptedHost::ScriptCredentials(std::optional<TCredentials> typed) {
  std::lock_guard<std::mutex> lock(mutex_);
  credentials_.push_back(std::move(typed));
}

std::optional<TCredentials> ScriptedHost::AskCredentials(const std::string& user,
                                                         const std::string& reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  Record("AskCredentials " + user + " " + reason);
  if (credentials_.empty()) {
    return std::nullopt;  // nobody to type a password: the operator gives up
  }
  std::optional<TCredentials> typed = credentials_.front();
  credentials_.pop_front();
  return typed;
}

const char* ScriptedHost::KindName(MessageKind kind) {
  switch (kind) {
    case MessageKind::Warning:
      return "Warning";
    case MessageKind::Error:
      return "Error";
    case MessageKind::Information:
      return "Information";
    case MessageKind::Confirmation:
      return "Confirmation";
  }
  return "?";
}

const char* ScriptedHost::ButtonsName(MessageButtons buttons) {
  return buttons == MessageButtons::Ok ? "Ok" : "YesNo";
}

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

void ScriptedHost::AnswerTo(QuestionId id, MessageAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answersById_[id] = answer;
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
  if (const auto given = answersById_.find(question.id);
      given != answersById_.end() && question.id != QuestionId::Notice) {
    return given->second;
  }
  if (question.id == QuestionId::RowsFromBackup) {
    return question.defaultAnswer;
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

namespace {

std::string Number(int value) {
  return std::to_string(value);
}

// The transcript line of each event.
struct LineOf {
  std::string operator()(const StepChanged& e) const {
    return "ReportStep " + Number(StepNumber(e.key)) + " " + Number(static_cast<int>(e.phase)) +
           " " + Number(static_cast<int>(e.outcome)) + " " + e.text;
  }
  std::string operator()(const LogAppended& e) const { return "WriteLog -1 " + e.line; }
  std::string operator()(const LogProgress& e) const {
    return "WriteLog " + Number(e.index) + " " + e.line;
  }
  std::string operator()(const LogCleared&) const { return "ClearLog"; }
  std::string operator()(const StepLogFiled& e) const {
    return "SnapshotStepLog " + Number(StepNumber(e.key));
  }
  std::string operator()(const LevelEntered& e) const {
    return "SetLevelRowsEnabled true " + Number(e.level);
  }
  std::string operator()(const RunBegan&) const { return "BeginRunDisplay"; }
  std::string operator()(const RunEnded&) const { return "EndRunDisplay"; }
};

}  // namespace

std::string ScriptedHost::Line(const RunEvent& event) {
  return std::visit(LineOf{}, event);
}

std::shared_ptr<const TRunRecord> ScriptedHost::Record() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return record_;
}

void ScriptedHost::Apply(const LogProgress& event) {
  if (event.index >= 0 && static_cast<std::size_t>(event.index) < log_.size()) {
    log_[static_cast<std::size_t>(event.index)] = event.line;
  } else {
    ADD_FAILURE() << "WriteLog replaces line " << event.index << " of a log of " << log_.size();
  }
}

void ScriptedHost::Notify(const RunEvent& event) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::visit([this](const auto& e) { Apply(e); }, event);
  const bool logLine =
      std::holds_alternative<LogAppended>(event) || std::holds_alternative<LogProgress>(event);
  if (recordLogLines_ || !logLine) {
    Record(Line(event));
  }
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

#include "engine/TRecoveryContext.h"

#include <filesystem>
#include <utility>

#include "engine/ERunAborted.h"

TRecoveryContext::TRecoveryContext(IRecoveryHost& host, std::string databasePath,
                                   std::string backupPath)
    : host_(host), databasePath_(std::move(databasePath)), backupPath_(std::move(backupPath)) {}

std::string TRecoveryContext::RunLogText() const {
  std::string text;
  for (const std::string& line : runLog_) {
    text += line;
    text += '\n';
  }
  return text;
}

void TRecoveryContext::ThrowIfCancelled() const {
  if (cancelRequested_ && cancelThrows_) {
    throw ERunAborted(AbortReason::Cancelled);
  }
}

void TRecoveryContext::ClearLog() {
  ThrowIfCancelled();
  record_.LogClearing(runLog_);
  runLog_.clear();
  host_.ClearLog();
}

void TRecoveryContext::WriteLog(const std::string& text, int index) {
  ThrowIfCancelled();
  if (index < 0) {
    runLog_.push_back(text);
  } else if (static_cast<std::size_t>(index) < runLog_.size()) {
    runLog_[static_cast<std::size_t>(index)] = text;
  } else {
    return;  // no such line: neither copy changes
  }
  host_.WriteLog(text, index);
}

void TRecoveryContext::SnapshotStepLog(StepKey key) {
  ThrowIfCancelled();
  record_.LogFiled(key, runLog_);
  host_.SnapshotStepLog(key);
}

void TRecoveryContext::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                                  const std::string& text) {
  ThrowIfCancelled();
  record_.StepReported(key, phase, outcome, text, runLog_);
  host_.ReportStep(key, phase, outcome, text);
}

MessageAnswer TRecoveryContext::AskUser(const Question& question) {
  ThrowIfCancelled();
  const std::size_t asked = record_.QuestionAsked(question);
  const MessageAnswer answer = host_.AskUser(question);
  record_.QuestionAnswered(asked, answer);
  return answer;
}

MessageAnswer TRecoveryContext::Ask(QuestionId id, const std::string& text, MessageKind kind,
                                    MessageAnswer defaultAnswer) {
  return AskUser(Question{id, text, kind, MessageButtons::YesNo, defaultAnswer});
}

void TRecoveryContext::Tell(const std::string& text, MessageKind kind) {
  if (kind == MessageKind::Error) {
    lastError_ = text;
  }
  AskUser(Question{QuestionId::Notice, text, kind, MessageButtons::Ok, MessageAnswer::Ok});
}

void TRecoveryContext::AskForBackupFile() {
  if (Ask(QuestionId::ChooseBackupFile, "Deseja escolher um arquivo?", MessageKind::Confirmation) !=
      MessageAnswer::Yes) {
    return;
  }
  ThrowIfCancelled();
  const std::string folder = std::filesystem::path(databasePath_).parent_path().string();
  const std::size_t asked = record_.PickerAsked(folder);
  backupPath_ = host_.ChooseBackupFile(folder).value_or(std::string());
  record_.PickerAnswered(asked, backupPath_);
}

std::string TRecoveryContext::TakeLastError() {
  return std::exchange(lastError_, std::string());
}

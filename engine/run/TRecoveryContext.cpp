#include "engine/run/TRecoveryContext.h"

#include <filesystem>
#include <utility>

#include "engine/run/ERunAborted.h"

TRecoveryContext::TRecoveryContext(IRecoveryHost& host, std::string databasePath,
                                   std::string backupPath)
    : host_(host, record_),
      databasePath_(std::move(databasePath)),
      backupPath_(std::move(backupPath)) {}

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
  host_.Notify(LogCleared{});
}

void TRecoveryContext::WriteLog(const std::string& text, int index) {
  ThrowIfCancelled();
  if (index < 0) {
    runLog_.push_back(text);
    host_.Notify(LogAppended{text});
  } else if (static_cast<std::size_t>(index) < runLog_.size()) {
    runLog_[static_cast<std::size_t>(index)] = text;
    host_.Notify(LogProgress{index, text});
  }
  // No such line: neither copy changes.
}

void TRecoveryContext::SnapshotStepLog(StepKey key) {
  ThrowIfCancelled();
  record_.LogFiled(key, runLog_);
  host_.Notify(StepLogFiled{key});
}

void TRecoveryContext::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                                  const std::string& text) {
  ThrowIfCancelled();
  record_.StepReported(key, phase, outcome, text, runLog_);
  host_.Notify(StepChanged{key, phase, outcome, text});
}

MessageAnswer TRecoveryContext::AskUser(const Question& question) {
  ThrowIfCancelled();
  const std::size_t asked = record_.QuestionAsked(question, runLog_);
  const MessageAnswer answer = host_.Front().AskUser(question);
  record_.QuestionAnswered(asked, answer);
  return answer;
}

MessageAnswer TRecoveryContext::Ask(QuestionId id, const std::string& text, MessageKind kind,
                                    MessageAnswer defaultAnswer) {
  return AskUser(Question{id, text, kind, MessageButtons::YesNo, defaultAnswer});
}

void TRecoveryContext::Tell(const std::string& text, MessageKind kind) {
  AskUser(Question{QuestionId::Notice, text, kind, MessageButtons::Ok, MessageAnswer::Ok});
}

void TRecoveryContext::TellRaised(const char* routine, const StepResult& result) {
  if (result.WasRaised()) {
    Tell(std::string(routine) + "() -> Excetion: " + result.error, MessageKind::Error);
  }
}

void TRecoveryContext::AskForBackupFile() {
  if (Ask(QuestionId::ChooseBackupFile, "Deseja escolher um arquivo?", MessageKind::Confirmation) !=
      MessageAnswer::Yes) {
    return;
  }
  ThrowIfCancelled();
  const std::string folder = std::filesystem::path(databasePath_).parent_path().string();
  const std::size_t asked = record_.PickerAsked(folder);
  backupPath_ = host_.Front().ChooseBackupFile(folder).value_or(std::string());
  record_.PickerAnswered(asked, backupPath_);
}

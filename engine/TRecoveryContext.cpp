#include "engine/TRecoveryContext.h"

#include <utility>

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

void TRecoveryContext::ClearLog() {
  runLog_.clear();
  host_.ClearLog();
}

void TRecoveryContext::WriteLog(const std::string& text, int index) {
  if (index < 0) {
    runLog_.push_back(text);
  } else if (static_cast<std::size_t>(index) < runLog_.size()) {
    runLog_[static_cast<std::size_t>(index)] = text;
  } else {
    return;  // no such line: neither copy changes
  }
  host_.WriteLog(text, index);
}

void TRecoveryContext::SnapshotStepLog(int key) { host_.SnapshotStepLog(key); }

void TRecoveryContext::ReportStep(int key, int phase, int outcome, const std::string& text) {
  host_.ReportStep(key, phase, outcome, text);
}

MessageAnswer TRecoveryContext::AskUser(const std::string& text, MessageKind kind,
                                        MessageButtons buttons) {
  return host_.AskUser(text, kind, buttons);
}

void TRecoveryContext::AskForBackupFile() { host_.AskForBackupFile(backupPath_); }

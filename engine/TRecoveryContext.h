#pragma once

#include <string>
#include <vector>

#include "engine/IRecoveryHost.h"

// What one run shares with its step routines: the front end, the two paths
// and the run log. The log methods change the engine's own copy of the lines
// first and then hand the same change to the front end.
class TRecoveryContext {
 public:
  TRecoveryContext(IRecoveryHost& host, std::string databasePath, std::string backupPath);

  IRecoveryHost& Host() const { return host_; }
  const std::string& DatabasePath() const { return databasePath_; }
  const std::string& BackupPath() const { return backupPath_; }
  void SetBackupPath(const std::string& path) { backupPath_ = path; }

  const std::vector<std::string>& RunLog() const { return runLog_; }
  // The run log's lines, each followed by a line break.
  std::string RunLogText() const;

  void ClearLog();
  // index < 0 appends; index >= 0 replaces that line (only existing lines).
  void WriteLog(const std::string& text, int index = -1);
  void SnapshotStepLog(int key);
  void ReportStep(int key, int phase, int outcome, const std::string& text);
  MessageAnswer AskUser(const std::string& text, MessageKind kind, MessageButtons buttons);
  // Lets the user pick another older backup; changes BackupPath().
  void AskForBackupFile();

 private:
  IRecoveryHost& host_;
  std::string databasePath_;
  std::string backupPath_;
  std::vector<std::string> runLog_;
};

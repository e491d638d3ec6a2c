#pragma once

#include <string>
#include <vector>

#include "fbaccess/TIBBackupRestoreService.h"
#include "fbaccess/TServiceOptions.h"

// The backup action: one database into one or more backup files.
class TIBBackupService : public TIBBackupRestoreService {
 public:
  // The server's own path of the database (no "host:").
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& databaseName) { databaseName_ = databaseName; }
  // One file per line; "path=bytes" limits a file's length. Blank lines are skipped.
  const std::vector<std::string>& BackupFile() const { return backupFile_; }
  void SetBackupFile(const std::vector<std::string>& backupFile) { backupFile_ = backupFile; }
  int BlockingFactor() const { return blockingFactor_; }
  void SetBlockingFactor(int blockingFactor) { blockingFactor_ = blockingFactor; }
  const TBackupOptions& Options() const { return options_; }
  void SetOptions(const TBackupOptions& options) { options_ = options; }
  // Tables whose rows the backup leaves out (their definitions stay): a
  // SIMILAR TO pattern the server matches against each whole table name,
  // ignoring letter case. Empty (the default) backs up every row.
  const std::string& SkipData() const { return skipData_; }
  void SetSkipData(const std::string& pattern) { skipData_ = pattern; }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::string databaseName_;
  std::vector<std::string> backupFile_;
  int blockingFactor_ = 0;
  TBackupOptions options_;
  std::string skipData_;
};

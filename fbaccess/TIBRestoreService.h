#pragma once

#include <string>
#include <vector>

#include "fbaccess/TIBBackupRestoreService.h"
#include "fbaccess/TServiceOptions.h"

// The restore action: one or more backup files into one or more database files.
class TIBRestoreService : public TIBBackupRestoreService {
 public:
  // One database file per line, the server's own paths; "path=pages" limits a
  // file's length. Blank lines are skipped.
  const std::vector<std::string>& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::vector<std::string>& databaseName) {
    databaseName_ = databaseName;
  }
  // One backup file per line, as for the backup.
  const std::vector<std::string>& BackupFile() const { return backupFile_; }
  void SetBackupFile(const std::vector<std::string>& backupFile) { backupFile_ = backupFile; }
  int PageSize() const { return pageSize_; }
  void SetPageSize(int pageSize) { pageSize_ = pageSize; }
  int PageBuffers() const { return pageBuffers_; }
  void SetPageBuffers(int pageBuffers) { pageBuffers_ = pageBuffers; }
  // A SIMILAR TO pattern of table names (letter case ignored) whose rows are
  // left out: those tables are restored empty. Empty restores every row.
  const std::string& SkipData() const { return skipData_; }
  void SetSkipData(const std::string& pattern) { skipData_ = pattern; }
  const TRestoreOptions& Options() const { return options_; }
  void SetOptions(const TRestoreOptions& options) { options_ = options; }

 protected:
  std::string BuildStartRequest() const override;

 private:
  std::vector<std::string> databaseName_;
  std::vector<std::string> backupFile_;
  int pageSize_ = 4096;
  int pageBuffers_ = 0;
  TRestoreOptions options_{TRestoreOption::CreateNewDB};
  std::string skipData_;
};

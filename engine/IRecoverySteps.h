#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/TInconsistency.h"

// The step routines the recovery run calls. Each answers yes or no and shows
// its own failures to the user; the run decides only from the answers. The
// real routines talk to the Firebird server; tests script them.
class IRecoverySteps {
 public:
  virtual ~IRecoverySteps() = default;

  // Step 1: no other attachment, or the user chose to go on anyway.
  virtual bool acessoExclusivo() = 0;
  // Step 2: the working copy was written.
  virtual bool doCopy(const std::string& source, const std::string& target) = 0;
  // Steps 3 and 11: the validation found no errors.
  virtual bool doValidate(const std::string& databasePath) = 0;
  // Step 4: the mend ended as expected (acts on the last validated database).
  virtual bool doMend() = 0;
  // Steps 5 and 9: the backup completed. `key` chooses the saved step log.
  virtual bool doBackup(const std::string& databasePath, const std::string& backupFile,
                        int key) = 0;
  // Steps 6 and 10 (and the older backup in step 8): no error in the output.
  virtual bool doRestore(const std::string& backupFile, const std::string& databasePath,
                         int key) = 0;
  // Before step 7: brings the restored database out of single-user
  // maintenance; a database already online counts as success.
  virtual bool bringOnline(const std::string& databasePath) = 0;
  // Step 7, once per violation line: the broken relationship, or nothing.
  virtual std::unique_ptr<TInconsistency> checkInconsistencies(const std::string& restoredPath,
                                                               const std::string& line) = 0;
  // Step 8: every record got at least one parent row back.
  virtual bool doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) = 0;
};

#pragma once

#include "engine/IRecoverySteps.h"
#include "engine/TRecoveryContext.h"

// Step routines for a program built without the Firebird ones: each tells the
// user that it is not available yet and answers no.
class TUnavailableSteps : public IRecoverySteps {
 public:
  explicit TUnavailableSteps(TRecoveryContext& context) : context_(context) {}

  bool acessoExclusivo() override;
  bool doCopy(const std::string& source, const std::string& target) override;
  bool doValidate(const std::string& databasePath) override;
  bool doMend() override;
  bool doBackup(const std::string& databasePath, const std::string& backupFile, int key) override;
  bool doRestore(const std::string& backupFile, const std::string& databasePath, int key) override;
  bool bringOnline(const std::string& databasePath) override;
  std::unique_ptr<TInconsistency> checkInconsistencies(const std::string& restoredPath,
                                                       const std::string& line) override;
  bool doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) override;

 private:
  bool Unavailable(const char* routine);

  TRecoveryContext& context_;
};

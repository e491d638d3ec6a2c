#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TCopyReading.h"
#include "engine/rows/TOrphanSearch.h"
#include "engine/rows/TSalvage.h"
#include "engine/run/IRecoverySteps.h"
#include "engine/run/TRecoveryContext.h"
#include "fbaccess/TIBBackupService.h"
#include "fbaccess/TIBConfigService.h"
#include "fbaccess/TIBRestoreService.h"
#include "fbaccess/TIBValidationService.h"

// The step routines of a run, carried out against the local Firebird server:
// the database through "localhost:" + path, the service manager over TCP at
// "localhost". Every routine shows its own failures to the user and answers
// yes or no; only a failed attach at the start of acessoExclusivo escapes
// (the run reports it).
class TFirebirdSteps : public IRecoverySteps {
 public:
  explicit TFirebirdSteps(TRecoveryContext& context);
  ~TFirebirdSteps() override;
  TFirebirdSteps(const TFirebirdSteps&) = delete;
  TFirebirdSteps& operator=(const TFirebirdSteps&) = delete;

  // Suits TThreadRecovery's factory of step routines.
  static std::unique_ptr<IRecoverySteps> Create(TRecoveryContext& context);

  AccessResult acessoExclusivo() override;
  StepResult doCopy(const std::string& source, const std::string& target) override;
  StepResult doValidate(const std::string& databasePath) override;
  StepResult doMend() override;
  StepResult doBackup(const std::string& databasePath, const std::string& backupFile,
                      StepKey key) override;
  StepResult doRestore(const std::string& backupFile, const std::string& databasePath,
                       StepKey key) override;
  StepResult bringOnline(const std::string& databasePath) override;
  Exclusion keepOthersOut(const std::string& databasePath) override;
  std::string folderProblem(const std::string& folder) override;
  std::optional<TableLosses> rebuildFromPages(const std::string& targetPath,
                                              std::string& failure) override;
  TableLosses removeOrphans(const std::string& databasePath) override;
  StepResult canAttach(const std::string& databasePath) override;
  TTriage::Result triage(const std::string& databasePath) override;
  std::vector<std::string> skippedTables() const override;
  StepResult activateIndexes(const std::string& databasePath) override;
  StepResult rebuildTables(const std::vector<std::string>& tables,
                           const std::string& restoredPath) override;
  TableLosses rescueLosses() const override { return rescueLosses_; }
  std::vector<std::string> damagedTables(const std::string& databasePath) override;
  std::optional<TableLosses> fillFromOlderBackup(const std::vector<std::string>& tables,
                                                 const std::string& databasePath) override;
  std::string otherAttachments(const std::string& databasePath) override;
  std::string intrusion() const override { return intruder_; }
  void releaseDatabase() override;
  InconsistencyCheck checkInconsistencies(const std::string& restoredPath,
                                          const std::string& line) override;
  StepResult doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) override;
  TableLosses destroyedRows(const std::string& copyPath, const std::string& resultPath) override;
  void readFromOlderBackup(const std::vector<std::string>& tables) override {
    olderReadTables_ = tables;
  }
  // Restore every table's rows of the older backup, not only those the run
  // reads (to compare the two).
  void RestoreWholeOlderBackup() { wholeOlderBackup_ = true; }
  std::string temporaryDatabase() const override;
  std::optional<RowCounts> olderBackupCounts() const override;
  bool olderBackupRestored() const override { return salvage_.OlderBackupRestored(); }
  RowCounts salvagedCounts() const override;
  RowCounts rowCounts(const std::string& databasePath,
                      const std::vector<std::string>& tables) override;
  std::string serverVersion(const std::string& databasePath) override;

  TRecoveryContext& Context() { return context_; }
  TConnection& TargetConnection() { return targetConnection_; }
  TConnection& SourceConnection() { return sourceConnection_; }
  TIBValidationService& ValidationService() { return validationService_; }
  TIBBackupService& BackupService() { return backupService_; }
  TIBRestoreService& RestoreService() { return restoreService_; }
  TIBConfigService& ConfigService() { return configService_; }

  // The monitoring query that lists the other attachments of the database.
  static const char* const kMonitoringQuery;

 protected:
  // Right after the run gave up its one attachment for one of its own uses:
  // a program that attaches now takes the maintenance's only place. Tests
  // stand such a program here.
  virtual void GapOpened() {}
  // Right before the run takes it back, after its use: a program that
  // attached meanwhile may have written what that use did not see.
  virtual void GapClosing() {}

 private:
  StepResult BringOnlineOnce(const std::string& databasePath);
  // Runs a started validation or mend to its end: empties the log, streams
  // the output into it and files it under `key`. Firebird 3 answers a repair
  // that found errors with a summary status instead of output lines; that
  // status is written to the log as the output.
  void RunRepairAction(StepKey key);
  // In single-user maintenance the run keeps the one attachment to itself
  // between its own uses of the database, so that no other program of
  // SYSDBA's can take it. A gap lets the run's next use in.
  class THoldGap;
  void HoldDatabase();
  void ReleaseDatabase();
  StepResult BackUpWithRetries(const std::string& databasePath, const std::string& backupFile,
                               StepKey key);
  // The first column of the first row the holder reads ("" for none), in a
  // transaction then ended.
  std::string HolderValue(const std::string& sql);
  // The number of the holder's own transaction, which is then ended.
  std::uint64_t HolderTransaction();
  // Names as intruder_ what others committed in the held database since
  // the holder's transaction `holderBefore`.
  void FindWritesAfter(std::uint64_t holderBefore);
  std::string RelationName(std::uint16_t relationId);
  // The shutdown mode of the database targetConnection_ has open: 0 online.
  int ShutDownMode();
  // The other attachments of the database targetConnection_ has open.
  std::string ListOtherAttachments();
  // Starts a backup or restore and streams its output into the emptied log.
  // A cancel stops the server's work (or waits for it), removes `output`,
  // the file the operation was writing when it made it, and passes the
  // ERunAborted on.
  void ReadServiceOutput(TIBControlAndQueryService& service, StepKey key,
                         const std::string& database, const std::string& output);
  // `output` empty: no file to remove.
  void StopCancelledOperation(TIBControlAndQueryService& service, StepKey key,
                              const std::string& database, const std::string& output);
  // Deletes the service attachments of a database: the server then ends the
  // backup they run.
  void EndServiceAttachments(const std::string& databasePath);
  // One backup, leaving out the rows of the tables `skipPattern` matches.
  StepResult RunBackup(const std::string& databasePath, const std::string& backupFile, StepKey key,
                       const std::string& skipPattern);
  // The table whose rows a failed backup could not read, or "".
  std::string FailedTable(const std::string& databasePath, const std::string& failure);
  // The older backup restored beside the database, by whichever step did it
  // first; restored now when none did. Empty when there is none to read.
  std::string OlderBackupDatabase(const std::vector<std::string>& tables);
  // Before the salvage restores the older backup: the tables whose rows it
  // needs (the missing parents, the tables the run reads, their parents);
  // every other table's rows are left out of that restore.
  void LimitOlderBackupRows(const std::vector<std::unique_ptr<TInconsistency>>& list);
  // The tables the older backup's restored rows are compared on: only
  // tables restored with their rows.
  std::vector<std::string> RestoredWithRows(const std::vector<std::string>& tables) const;
  // Before any row comes from the older backup: true when it is of this
  // database, or the operator chose to use it anyway (asked once per run).
  bool AcceptOlderBackup(TConnection& repaired, TConnection& older);

  TRecoveryContext& context_;
  TConnection targetConnection_;
  TConnection sourceConnection_;
  TIBValidationService validationService_;
  TIBBackupService backupService_;
  TIBRestoreService restoreService_;
  TIBConfigService configService_;
  std::vector<std::string> skippedTables_;
  std::string rescueTemporary_;
  std::string fillTemporary_;
  TableLosses rescueLosses_;
  std::optional<bool> olderBackupAccepted_;
  std::string restoreSkipData_;   // tables the next restore leaves empty
  bool restoreInactive_ = false;  // the next restore leaves every index inactive
  std::vector<std::string> olderReadTables_;
  // The tables the salvage's restore of the older backup holds rows of;
  // empty when it holds every table's.
  std::vector<std::string> olderRowTables_;
  bool wholeOlderBackup_ = false;
  bool keptOut_ = false;  // the database is in single-user maintenance
  TConnection holder_;    // the one attachment, while kept out
  std::string intruder_;  // why the one attachment was lost to another
  // The pristine copy's pages, read for the destroyed-rows count while the
  // server works.
  TCopyReading copyReading_;
  // Level 2: steps 7 and 8 over the two connections above.
  TOrphanSearch orphanSearch_{context_, targetConnection_};
  TSalvage salvage_{context_, targetConnection_, sourceConnection_,
                    [this](const std::string& backup, const std::string& db, StepKey key) {
                      return doRestore(backup, db, key);
                    },
                    [this](TConnection& repaired, TConnection& older) {
                      return AcceptOlderBackup(repaired, older);
                    }};
};

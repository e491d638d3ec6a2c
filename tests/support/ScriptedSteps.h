#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/run/IRecoverySteps.h"
#include "engine/run/TRecoveryContext.h"

// Step routines for tests of the run: every answer comes from a script, kept
// per routine in call order, and every call is recorded with its arguments.
// Routines are named as in IRecoverySteps ("acessoExclusivo", "doCopy",
// "doValidate", "doMend", "doBackup", "doRestore", "bringOnline",
// "checkInconsistencies", "doCopyDataFromOldBackup"). A call without a
// scripted answer fails the test and answers no.
//
// Call lines: the routine's name followed by its arguments, each after one
// blank: "doCopy <source> <target>", "doBackup <database> <file> <key>",
// "doRestore <file> <database> <key>", "checkInconsistencies <path> <line>",
// "doCopyDataFromOldBackup <TableName>,<TableName>,...", "doMend", ...
class ScriptedSteps : public IRecoverySteps {
 public:
  // Answers the routine's result; a plain true or false converts.
  using Action = std::function<StepResult(TRecoveryContext&)>;
  using RecordAction = std::function<std::unique_ptr<TInconsistency>(TRecoveryContext&)>;

  explicit ScriptedSteps(TRecoveryContext& context) : context_(context) {}

  // The next call of `routine` answers `answer`.
  void Script(const std::string& routine, bool answer);
  // The next call of `routine` runs `action` (which may write the run log,
  // ask the user or throw ERunAborted) and answers its result.
  void Script(const std::string& routine, Action action);
  // The next call of `routine` fails with the error `message` raised inside
  // it, as a server or file error stops the real routine.
  void ScriptThrow(const std::string& routine, const std::string& message);
  // The next checkInconsistencies answers a copy of `record`, or nothing.
  void ScriptRecord(const std::optional<TInconsistency>& record);
  void ScriptRecord(RecordAction action);

  std::vector<std::string> Calls() const;
  std::size_t UnusedAnswers() const;

  // An action that writes `lines` to the run log after emptying it (as the
  // service routines do), then answers `answer`.
  static Action WritesLog(std::vector<std::string> lines, bool answer);

  // The next otherAttachments answers `list` (unscripted: nobody).
  void ScriptOtherAttachments(const std::string& list);
  // What temporaryDatabase answers.
  void SetTemporaryDatabase(const std::string& path);
  // The next rowCounts of `path` answers `counts` (limited to the tables
  // asked for) and enters the calls as "rowCounts <path>"; unscripted it
  // answers no tables and enters nothing.
  void ScriptRowCounts(const std::string& path, const RowCounts& counts);
  // What serverVersion answers (unscripted: an empty text).
  void SetServerVersion(const std::string& version);

  // A scripted yes is Access::Granted, a no Access::OthersAttached.
  // An action that throws the access layer's error stands for a refused
  // attachment.
  AccessResult acessoExclusivo() override;
  StepResult doCopy(const std::string& source, const std::string& target) override;
  StepResult doValidate(const std::string& databasePath) override;
  StepResult doMend() override;
  StepResult doBackup(const std::string& databasePath, const std::string& backupFile,
                      StepKey key) override;
  StepResult doRestore(const std::string& backupFile, const std::string& databasePath,
                       StepKey key) override;
  StepResult bringOnline(const std::string& databasePath) override;
  // Unscripted: true.
  StepResult canAttach(const std::string& databasePath) override;
  std::string otherAttachments(const std::string& databasePath) override;
  std::string temporaryDatabase() const override;
  std::optional<RowCounts> olderBackupCounts() const override { return std::nullopt; }
  bool olderBackupRestored() const override { return false; }
  RowCounts salvagedCounts() const override { return {}; }
  RowCounts rowCounts(const std::string& databasePath,
                      const std::vector<std::string>& tables) override;
  std::string serverVersion(const std::string& databasePath) override;
  // Unscripted: a healthy file, nothing skipped, every table rebuilt.
  TTriage::Result triage(const std::string& databasePath) override;
  std::vector<std::string> skippedTables() const override;
  StepResult rebuildTables(const std::vector<std::string>& tables,
                           const std::string& restoredPath) override;
  // Unscripted: an index stays inactive.
  StepResult activateIndexes(const std::string& databasePath) override;
  void SetTriage(const TTriage::Result& result);
  static TTriage::Result HealthyFile() {
    TTriage::Result result;
    result.verdict = TTriage::Verdict::Healthy;
    return result;
  }
  void SetSkippedTables(const std::vector<std::string>& tables);
  InconsistencyCheck checkInconsistencies(const std::string& restoredPath,
                                          const std::string& line) override;
  StepResult doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list) override;

 private:
  StepResult Next(const std::string& routine, const std::string& call);

  TRecoveryContext& context_;
  mutable std::mutex mutex_;
  std::map<std::string, std::deque<Action>> actions_;
  std::deque<RecordAction> records_;
  std::vector<std::string> calls_;
  std::deque<std::string> attachments_;
  std::string temporaryDatabase_;
  std::map<std::string, std::deque<RowCounts>> rowCounts_;
  std::string serverVersion_;
  TTriage::Result triage_ = HealthyFile();
  std::vector<std::string> skippedTables_;
};

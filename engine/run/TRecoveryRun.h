#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/files/TFileOwner.h"
#include "engine/run/IRecoverySteps.h"
#include "engine/run/RunTypes.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"
#include "engine/run/TRunLock.h"
#include "engine/run/TRunReport.h"

class ERunAborted;

// One repair of one database, steps 1 to 11, on the calling thread: decides
// after every step routine whether to go on, reports each step's row, and ends
// with EndRunDisplay and the closing message of its verdict.
//
// What it never does: replace or delete a file it did not make in this run
// (every name is checked free first, and renames never replace); go on to
// level 2 unless the level-1 restore failed on foreign keys alone; leave the
// database's own path without the database that was there, unless a fully
// restored, online and attachable database has taken its place.
class TRecoveryRun {
 public:
  // The local time used to name the run's files.
  using LocalClock = std::function<std::tm()>;
  static LocalClock SystemClock();

  TRecoveryRun(TRecoveryContext& context, IRecoverySteps& steps, LocalClock clock = SystemClock());

  // The whole run. A front end that throws ERunAborted ends it early; unless
  // the front end is gone, the cut step and the closing message still show.
  void Execute();

  // Results, readable once Execute has returned.
  RunVerdict Verdict() const { return verdict_; }
  bool Aborted() const { return aborted_; }
  const std::string& ClosingText() const { return closingText_; }
  const std::string& CopyPath() const { return copyPath_; }
  const std::string& BackupFilePath() const { return backupFilePath_; }
  const std::string& RestoredPath() const { return restoredPath_; }
  const std::string& OldPath() const { return oldPath_; }
  const std::vector<std::string>& ConstraintLines() const { return constraintLines_; }
  // The run's report; empty when none could be created.
  std::string ReportPath() const { return report_ ? report_->Path() : std::string(); }
  // Every file this run made, in the order it made them, under the name each
  // has at the end.
  const std::vector<std::string>& FilesMade() const { return filesMade_; }

  // The closing text of the five plain verdicts; the verdict-4 text names
  // the corrupt and the corrected database.
  static std::string ClosingMessage(RunVerdict verdict, const std::string& corruptPath,
                                    const std::string& correctedPath);

  // True when every error line of a restore's output belongs to a foreign-key
  // violation and the restore otherwise read the backup to its end.
  static bool FailedOnForeignKeysOnly(const std::vector<std::string>& restoreLog);

  // Per table, the rows the damage took that came back from the older backup
  // and those that are gone; readable once Execute has returned.
  const TableLosses& Losses() const { return losses_; }

 private:
  void Run();
  bool AcessoExclusivo();
  void CriarCopia();
  void ValidarDados();
  void PrepararBackup();
  // From the mend on, nobody else attaches: a write made after the backup
  // began would be lost with the file set aside.
  void KeepOthersOut();
  // Brings the database out of maintenance again, whatever the end.
  void LetOthersIn();
  void FazerBackupNivel01();
  void RestaurarBancoNivel01();
  // Instead of steps 3 to 6 when the server cannot open the file at all.
  void RebuildFromPages();
  // After a restore that could not create tables: rebuilds from the pages
  // under a name of its own. False when it cannot even try.
  bool RebuildTablesNotCreated();
  // `why` opens the closing message when the rebuild fails.
  void RebuildIntoRestoredPath(const std::string& why);
  void ProcurarOrfaos();
  void RecuperarDados();
  void FazerBackupNivel02();
  void RestaurarBancoNivel02();
  void ValidacaoFinal();

  void Running(StepKey key);
  void Finished(StepKey key, StepOutcome outcome, const std::string& text);
  void Stop() { continueFlag_ = false; }
  void StopWith(RunVerdict verdict, const std::string& reason = {});
  // After a cancel or an unanswerable question: marks the cut step and
  // undoes a half-done swap of names.
  void EndAborted(const ERunAborted& abort);
  // Names the run's files: the first variant whose names are all free.
  bool ChooseRunNames();
  // A file this run made: listed, and given the database's owner.
  void Made(const std::string& path);
  // Lists the older backup's temporary database once a step has made it.
  void NoteTemporaryDatabase();
  // Swaps the restored database in under the database's own name, the
  // original moving to the first free "-OLD" name; undone on any failure.
  bool SwapInRestoredDatabase();
  std::string ComposeClosingText() const;
  // The tables the damage touched whose missing rows the older backup may
  // give: named by the validation, with rows refused by the restore or taken
  // back by the salvage; the tables rebuilt after the backup skipped them
  // are not among them.
  std::vector<std::string> DamagedTables() const;
  // Offers the older backup's rows the damaged tables lack in `databasePath`
  // and counts what comes back and what is gone.
  void FillFromOlderBackup(const std::string& databasePath);
  // `reason` with words a technician can act on above the first server line
  // that does not say it plainly.
  static std::string WithOperatorWords(const std::string& reason);
  // Before the verdict of a repaired database: the rows whose pages the
  // damage destroyed and that no source gave back are lost rows too.
  void CountDestroyedRows();
  void AddLosses(const TableLosses& losses);
  bool LostRows() const;
  // "O banco de dados foi corrigido, mas ..." with a line per table.
  std::string LossesText() const;
  // A routine's result, after showing the error that stopped it, if one
  // did, in the box "<routine>() -> Excetion: <error>".
  StepResult Shown(const char* routine, StepResult result);
  StepResult BringOnline(const std::string& databasePath);
  StepResult ActivateIndexes(const std::string& databasePath);
  // Why a backup failed, for the closing message; `takenName` is the
  // backup's name when another file took it before the backup began.
  std::string BackupFailure(const StepResult& result, const std::string& takenName) const;

  TRecoveryContext& context_;
  IRecoverySteps& steps_;
  LocalClock clock_;

  bool continueFlag_ = true;
  RunVerdict verdict_ = RunVerdict::NotValidated;
  std::string reason_;  // the run's own explanation, shown with the verdict
  bool aborted_ = false;
  StepKey currentStep_ = StepKey::AcessoExclusivo;
  bool stepOpen_ = false;
  std::string closingText_;
  std::string copyPath_;
  std::string runStem_;
  std::string backupFilePath_;
  std::string restoredPath_;
  std::string levelTwoBackupPath_;
  std::string newDatabasePath_;
  std::string oldPath_;
  bool swapped_ = false;
  bool othersKeptOut_ = false;     // the database is in single-user maintenance
  bool rebuildFromPages_ = false;  // the server cannot open the file
  std::string notCreatedHint_;     // tables the restore could not create, no older backup
  std::string serverRefusal_;      // what the server said when it could not
  bool refusedAsNoDatabase_ = false;
  std::unique_ptr<TRunLock> runLock_;
  bool skipMend_ = false;
  // Rows per table the restore that made the result wrote, when known.
  std::optional<IRecoverySteps::RowCounts> restoredCounts_;
  std::vector<std::string> filesMade_;
  std::unique_ptr<TFileOwner> owner_;  // the database's, taken at step 1
  std::vector<std::string> constraintLines_;
  std::vector<std::unique_ptr<TInconsistency>> inconsistencies_;
  std::vector<std::string> damagedTables_;  // named by the online validation
  std::vector<std::string> skippedTables_;  // left out by the level-1 backup
  TableLosses losses_;

  // The report: taken with the run's names, written at the end of the run.
  // Takes the first variant of the run's names that is free and whose report
  // file this run could create; false when none is.
  bool PickRunStem();
  void RecordOrphanSearch();
  void RecordSalvage();
  void CountResult();
  TRunRecord::Counts CountRows(const std::string& databasePath,
                               const std::vector<std::string>& tables);
  // Writes the report and names it (or why there is none) in the closing text.
  void FinishReport();
  void NameReportInLog();

  std::unique_ptr<TRunReport> report_;
  std::string reportProblem_;
  bool reportWritten_ = false;
  std::string reportNote_;  // the closing text's last lines, about the report
};

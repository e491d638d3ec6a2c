#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/firebird/TServerDialect.h"
#include "engine/firebird/TTriage.h"
#include "engine/run/RunTypes.h"
#include "engine/run/StepResult.h"
#include "engine/run/TInconsistency.h"

// The step routines the recovery run calls. Each returns what happened (a
// StepResult: yes, no, or the error that stopped it) and shows nothing; the
// run decides from the results and alone shows the operator what failed.
// The real routines talk to the Firebird server; tests script them.
class IRecoverySteps {
 public:
  // What the exclusive-access check found.
  enum class Access {
    Granted,         // nobody else is attached
    OthersAttached,  // others are attached and the user gave up
    Unverified,      // the check itself failed and the user chose to go on
    ShutDown,        // the database is in maintenance and the user left it so
    Refused,         // the server refused the attachment
  };
  struct AccessResult {
    AccessResult(Access found) : access(found) {}  // NOLINT: a plain outcome converts
    AccessResult(TServerDialect::AttachFailure why, std::string text)
        : access(Access::Refused), failure(why), serverText(std::move(text)) {}
    Access access;
    TServerDialect::AttachFailure failure = TServerDialect::AttachFailure::Other;
    std::string serverText;  // the server's words, for a refusal
  };

  virtual ~IRecoverySteps() = default;

  // Step 1. A database the server will not attach is Refused, with the
  // server's reason.
  virtual AccessResult acessoExclusivo() = 0;
  // Step 2: the working copy was written whole under `target`, which was free
  // (nothing is ever replaced).
  virtual StepResult doCopy(const std::string& source, const std::string& target) = 0;
  // Steps 3 and 11: the validation found no errors.
  virtual StepResult doValidate(const std::string& databasePath) = 0;
  // Step 4: the mend ended as expected (acts on the last validated database).
  virtual StepResult doMend() = 0;
  // Steps 5 and 9: the backup completed. `key` chooses the saved step log.
  virtual StepResult doBackup(const std::string& databasePath, const std::string& backupFile,
                              StepKey key) = 0;
  // Steps 6 and 10 (and the older backup in step 8): the restore read the
  // whole backup without an error line. Never replaces an existing file.
  virtual StepResult doRestore(const std::string& backupFile, const std::string& databasePath,
                               StepKey key) = 0;
  // For a file the server cannot open (its header or transaction inventory
  // destroyed): restores the older backup's schema without rows at
  // `targetPath` and fills it with the rows read from the pages of the run's
  // copy, with the foreign keys inactive (tables that refer to each other
  // fill in any order) and the other indexes active again after. Nothing,
  // with the reason in `failure`, when it cannot.
  // In a database of the run's own making whose foreign keys are inactive:
  // removes the rows whose parent row does not exist, per table.
  virtual TableLosses removeOrphans(const std::string& /*databasePath*/) { return {}; }
  virtual std::optional<TableLosses> rebuildFromPages(const std::string& /*targetPath*/,
                                                      std::string& failure) {
    failure = "reconstrução a partir das páginas indisponível";
    return std::nullopt;
  }
  // Before anything: "" when the server can create the run's files in the
  // database's folder; otherwise what stops it, in the operator's words.
  virtual std::string folderProblem(const std::string& /*folder*/) { return {}; }
  // What keepOthersOut did.
  struct Exclusion {
    bool keptOut = false;  // shut down: bring it online at the end
    std::string refusal;   // the server's reason when it refused
  };
  // Shuts the database down to single-user maintenance, so that nobody else
  // attaches until it is brought online. The server refuses while someone
  // else is attached. Routines that cannot shut anything down do nothing.
  virtual Exclusion keepOthersOut(const std::string& /*databasePath*/) { return {}; }
  // Brings a restored database out of single-user maintenance; a database
  // already online counts as success.
  virtual StepResult bringOnline(const std::string& databasePath) = 0;
  // Gives up for good the attachment that kept others out of the operator's
  // database, which has been set aside under another name: it is brought
  // online under that name next.
  virtual void releaseDatabase() {}
  // Attaches and detaches: the database opens.
  virtual StepResult canAttach(const std::string& databasePath) = 0;
  // The other attachments of the database, one per line; empty when there
  // are none. Throws when the server cannot tell.
  virtual std::string otherAttachments(const std::string& databasePath) = 0;
  // Why the database kept out of reach may have been written by another
  // program during the run (it took the one attachment in a moment the run
  // had given it up); empty when nobody did.
  virtual std::string intrusion() const { return {}; }
  // What step 7 found for one violation line: the broken relationship, or
  // nothing, and the errors that stopped the reading of a child table (the
  // search went on with the next) or of the whole line.
  struct InconsistencyCheck {
    std::unique_ptr<TInconsistency> record;
    std::vector<std::string> errors;
  };
  virtual InconsistencyCheck checkInconsistencies(const std::string& restoredPath,
                                                  const std::string& line) = 0;
  // Step 8: every record got at least one parent row back.
  virtual StepResult doCopyDataFromOldBackup(
      std::vector<std::unique_ptr<TInconsistency>>& list) = 0;
  // Rows of `copyPath` (the run's pristine copy) whose pages are gone and
  // that the repaired database at `resultPath` lacks, per table of it (the
  // steps log what they found). Nothing when the copy cannot be read.
  virtual TableLosses destroyedRows(const std::string& /*copyPath*/,
                                    const std::string& /*resultPath*/) {
    return {};
  }
  // Before step 8: tables besides the missing parents' whose rows the run
  // will read from the older backup. Only those, and the tables they refer
  // to, need its rows restored.
  virtual void readFromOlderBackup(const std::vector<std::string>& /*tables*/) {}
  // The temporary database step 8 restored the older backup into; empty when
  // it made none.
  virtual std::string temporaryDatabase() const = 0;

  // Before step 3: what the file itself shows, read from the disk. A file
  // the server would loop on or fail to validate is not validated.
  virtual TTriage::Result triage(const std::string& databasePath) = 0;
  // The tables whose rows the last backup had to leave out (they restore
  // empty); empty when it read every table.
  virtual std::vector<std::string> skippedTables() const = 0;
  // Fills the skipped tables of the restored database row by row from the
  // damaged database and, where it has them, the older backup; writes a
  // line per table in the run log. False when a table could not be worked on.
  virtual StepResult rebuildTables(const std::vector<std::string>& tables,
                                   const std::string& restoredPath) = 0;
  // What the last rebuildTables could not give back, per table.
  virtual TableLosses rescueLosses() const { return {}; }
  // After a validation that found errors: the tables the server's online
  // validation names as damaged; empty when it names none or cannot run.
  virtual std::vector<std::string> damagedTables(const std::string& /*databasePath*/) { return {}; }
  // Offers the rows of `tables` that the older backup has and the database at
  // `databasePath` lacks (TBackupFill), restoring the older backup first when
  // no step did; per table what came back and what is gone. Nothing when
  // there is no older backup to read. Throws when a database cannot be read.
  virtual std::optional<TableLosses> fillFromOlderBackup(const std::vector<std::string>& /*tables*/,
                                                         const std::string& /*databasePath*/) {
    return std::nullopt;
  }
  // Activates every index a failed restore left inactive; true when none is
  // left inactive (the foreign keys hold again).
  virtual StepResult activateIndexes(const std::string& databasePath) = 0;

  // For the run's report. Rows per user table (views, external and temporary
  // tables aside), by table name; only the tables named in `tables` unless
  // it is empty. Throws when the database cannot be read; a cancel ends the
  // count between two tables.
  using RowCounts = std::map<std::string, std::int64_t>;
  virtual RowCounts rowCounts(const std::string& databasePath,
                              const std::vector<std::string>& tables) = 0;
  // What step 8 did: the rows per table the restore of the older backup
  // wrote, as its output told (nothing when that restore did not finish or
  // named no table), and the rows it copied into the restored database, per
  // table.
  virtual std::optional<RowCounts> olderBackupCounts() const = 0;
  // Step 8 restored the older backup whole into temporaryDatabase().
  virtual bool olderBackupRestored() const = 0;
  virtual RowCounts salvagedCounts() const = 0;
  // The server's version ("3.0.11"), read through an attachment to the
  // database. Throws when it cannot be attached.
  virtual std::string serverVersion(const std::string& databasePath) = 0;
};

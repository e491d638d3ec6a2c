#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TTableLayout.h"
#include "engine/run/IRecoverySteps.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"

// Step 8: restores an older backup into a temporary database next to the
// database under repair and copies every missing parent row it finds there
// into the level-1 restored database (the one `target` names, as the orphan
// search left it).
class TSalvage {
 public:
  // Restores `backup` into `db`, filing the output as the saved log of step
  // `key`; yes when the restore reported no error.
  using RestoreFunction =
      std::function<StepResult(const std::string& backup, const std::string& db, StepKey key)>;

  // Whether the older backup restored may give rows to the repaired
  // database (it is of this database, or the operator chose to use it).
  using AcceptFunction = std::function<bool(TConnection& repaired, TConnection& older)>;

  TSalvage(TRecoveryContext& context, TConnection& target, TConnection& source,
           RestoreFunction restore, AcceptFunction accept = {});

  // Yes when every record got at least one row back. An error ends the
  // salvage and is returned; rows copied before stay committed.
  StepResult doCopyDataFromOldBackup(std::vector<std::unique_ptr<TInconsistency>>& list);

  // Where the older backup is restored: the first free "-TEMP.FDB" name next
  // to the database; empty when every variant is taken.
  static std::string TemporaryPath(const std::string& databasePath);

  // The insert statement for a row of `table` with these columns, one line
  // per piece, with a named parameter per column.
  // The temporary database this salvage restored into; empty before.
  const std::string& TemporaryDatabase() const { return temporaryPath_; }
  // The older backup was restored whole into TemporaryDatabase().
  bool OlderBackupRestored() const { return olderBackupRestored_; }
  // The rows per table the older backup's restore wrote, from its output.
  const std::optional<IRecoverySteps::RowCounts>& OlderBackupCounts() const {
    return olderBackupCounts_;
  }
  // The rows copied into the target, per table.
  const IRecoverySteps::RowCounts& CopiedRows() const { return copied_; }

  static std::vector<std::string> InsertLines(const std::string& table,
                                              const std::vector<std::string>& columns);

 private:
  struct TPending;

  void WriteSummary(const std::vector<std::unique_ptr<TInconsistency>>& list);
  bool BackupExists() const;
  // The restore loop: true once a backup was restored into `temporaryPath`.
  bool RestoreOlderBackup(const std::string& temporaryPath);
  // Adds to `pending` the parent rows, in any table, that its rows need and
  // the target lacks, from the older backup; new tables go to `order`.
  void AddMissingParents(std::map<std::string, TPending>& pending, std::vector<std::string>& order);
  void CopyRows(std::vector<std::unique_ptr<TInconsistency>>& list,
                const std::string& temporaryPath);

  TRecoveryContext& context_;
  TConnection& target_;
  TConnection& source_;
  RestoreFunction restore_;
  AcceptFunction accept_;
  std::string temporaryPath_;
  bool olderBackupRestored_ = false;
  std::optional<IRecoverySteps::RowCounts> olderBackupCounts_;
  IRecoverySteps::RowCounts copied_;
  std::size_t unreadableArrays_ = 0;  // left NULL in rows read from the older backup
};

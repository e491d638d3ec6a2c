#pragma once

#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/run/RunTypes.h"
#include "engine/run/TRecoveryContext.h"

// Gives back, in the tables the damage touched, the rows the older backup
// holds and the repaired database lacks: matched by primary key (whole rows
// for a table without one). Asks once, saying how many rows per table; with
// Sim they go in parents first with the tables' triggers paused, with Não
// they are counted as lost and their keys listed. A row the repaired database
// has is never changed, even when the older backup holds other values for
// its key: the damaged file's version is the newer one.
class TBackupFill {
 public:
  // Both connections name their databases; they are attached here.
  TBackupFill(TRecoveryContext& context, TConnection& target, TConnection& older);

  // Per table, the rows brought back (fromOlderBackup) and those left out
  // (lost, with their keys). Tables with nothing missing are left out.
  // Throws when a database cannot be read.
  TableLosses Fill(const std::vector<std::string>& tables);

 private:
  TRecoveryContext& context_;
  TConnection& target_;
  TConnection& older_;
};

#pragma once

#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/run/RunTypes.h"

// Rows whose foreign key names a row that does not exist, taken out of a
// database of the run's own making (one rebuilt with its foreign keys
// inactive) so that every key can be made active: each is a lost row of its
// table, with its key. A row whose parent went goes too, and so on down.
class TOrphanRemoval {
 public:
  explicit TOrphanRemoval(TConnection& target);

  // Per user table, the rows removed. Throws when the target cannot be read
  // or written.
  TableLosses Remove();

 private:
  TConnection& target_;
};

#pragma once

#include <string>

#include "engine/firebird/TConnection.h"
#include "engine/run/RunTypes.h"
#include "engine/run/TRecoveryContext.h"

// Fills a database that holds the schema and no rows (the older backup
// restored with every table's data left out) with the rows read from the
// pages of a file the server cannot open: table by table, parents first,
// with the tables' triggers paused. A row the target refuses is lost, with
// its key; a table whose pages could not all be read may have lost more.
class TPageRebuild {
 public:
  // `target` names the database to fill; `pagesFile` is read, never written.
  TPageRebuild(TRecoveryContext& context, TConnection& target, std::string pagesFile);

  // Per table: rows given by the pages are not losses; `lost` counts rows
  // the target refused, `known` is false where pages could not be read.
  // Throws when the target cannot be written.
  TableLosses Fill();

 private:
  TRecoveryContext& context_;
  TConnection& target_;
  std::string pagesFile_;
};

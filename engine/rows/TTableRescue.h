#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TPageRows.h"
#include "engine/rows/TTableLayout.h"
#include "engine/run/TRecoveryContext.h"

// Rebuilds the rows of one table in the restored database from the three
// sources left: first every row the damaged database still gives through the
// server; then, when the server failed somewhere, every row still missing
// that the damaged file's own pages hold (read without the server, newest
// committed version); then the rows still missing that the older backup
// has, taken only for keys the damaged file could not answer for (a row it
// lacks where it could be read was deleted since the backup). Meant for
// tables whose rows the backup had to skip (they were restored empty).
//
// The damaged database is read in primary-key order, in ranges; a range that
// fails is split around the error until only single keys that cannot be read
// are left (rows whose pages are lost, or keys whose index page is lost: a
// long run of failing keys marks that part of the key range unread instead).
// What the key could not reach is then looked for in storage order, through
// no index, up to the first error. A table whose key is not one integer
// column, or that has no primary key, is read in storage order only. Pages
// read whole (no page of the table damaged, no record unreadable) hold every
// row the table has: its loss is then known exactly, and nothing comes from
// the older backup. Rows are inserted several per statement (TRowBatcher),
// one by one where a block is refused, in one transaction per table, with
// the target's constraints as they are and its forced writes off until the
// table is in (TForcedWritesPause).
class TTableRescue {
 public:
  struct TCounts {
    long long FromDamaged = 0;  // through the server
    long long FromPages = 0;    // from the damaged file's pages
    long long FromOlderBackup = 0;
    // Rows known to exist in the damaged database that neither source gave
    // (read errors of single keys, and rows read that could not be inserted).
    long long Lost = 0;
    // False when part of the damaged table could not be read at all, so that
    // how many rows it held there is not known.
    bool LostKnown = true;
  };

  // The connections name their databases already and are attached here when
  // they are not; `older` (the older backup restored) may be null.
  // `pagesFile` is the file whose pages are read (only ever read): the
  // damaged database's pristine copy, or by default the database itself.
  TTableRescue(TRecoveryContext& context, TConnection& damaged, TConnection& target,
               TConnection* older, std::string pagesFile = {});

  // Rebuilds `table` and writes its line in the run log. Errors of the
  // damaged database are part of the work; any other failure rolls the
  // table's transaction back and is thrown.
  TCounts Rescue(const std::string& table);

  // The run log line of a table.
  static std::string LogLine(const std::string& table, const TCounts& counts);

  // Failed reads allowed per table before the narrowing gives up.
  static constexpr int kMaxFailedReads = 65536;
  // Single keys failing one after the other that mark the index pages of that
  // part of the key range as lost: more rows than any data page holds (about
  // 240 on 4 KiB pages, 1,900 on 32 KiB ones), so that a lost data page of
  // densely numbered rows is still narrowed key by key and counted exactly.
  static constexpr int kFailedKeyRun = 2048;
  // Rows read per statement from the damaged database.
  static constexpr int kBatchRows = 10000;

 private:
  class TRun;

  TRecoveryContext& context_;
  TConnection& damaged_;
  TConnection& target_;
  TConnection* older_;
  TPageRows pages_;
};

// Rows put into a table by blocks through the real server: every value goes
// in as it was, in blocks as large as the server takes, and every row the
// server refuses is handed back with its reason, after the retries that a
// row whose parent comes later needs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TConnection.h"
#include "engine/rows/TForcedWritesPause.h"
#include "engine/rows/TRowBatcher.h"
#include "engine/rows/TTableLayout.h"
#include "support/FixtureDatabase.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

// The rows of `table` of the attached connection, as the rescue reads them.
std::vector<std::vector<TValue>> RowsOf(TConnection& connection, const TTableLayout& layout) {
  TIBQuery select;
  select.SetDatabase(&connection.Database());
  select.SQL().SetText("select " + layout.SelectList() + " from " + layout.Table());
  select.Open();
  std::vector<std::vector<TValue>> rows;
  std::vector<TValue> values;
  while (!select.AtEnd()) {
    layout.ReadRow(select, values);
    rows.push_back(values);
    select.Next();
  }
  select.Close();
  return rows;
}

// Thirty wide text columns beside one of each other kind a row may carry:
// a block of these rows is far above 64 KiB of values and of text.
std::string WideSchema(const std::string& table) {
  std::string text = "create table " + table +
                     " (ID integer not null primary key, N numeric(15,2), D date,"
                     " TS timestamp, F double precision, B bigint, C char(10) character set"
                     " win1252, M blob sub_type text";
  for (int i = 0; i < 30; ++i) {
    text += ", S" + std::to_string(i) + " varchar(200)";
  }
  return text + ");\n";
}

std::string WideRow() {
  std::string text =
      "insert into ORIGEM values (:i, iif(mod(:i, 5) = 0, null, :i * 1.25 - 300),"
      " dateadd(:i day to date '1999-12-25'), dateadd(:i * 7 second to timestamp"
      " '2020-02-29 23:59:00.1234'), :i / 3.0e0, :i * 1000000007, iif(mod(:i, 4) = 0, null,"
      " 'ção ' || mod(:i, 97)), iif(mod(:i, 3) = 0, null, 'memo ' || :i)";
  for (int i = 0; i < 30; ++i) {
    text += ", iif(mod(:i + " + std::to_string(i) + ", 11) = 0, null, lpad(:i, " +
            std::to_string(50 + 5 * i) + ", 'x''" + std::to_string(i) + "'))";
  }
  return text + ")";
}

TEST(RowBatcher, WideRowsGoInByLargeBlocksWithEveryValueAsItWas) {
  TestFolder folder;
  const int rows = 1000;
  const FixtureDatabase db = FixtureDatabase::Create(
      folder.File("LARGO.FDB"), WideSchema("ORIGEM") + WideSchema("DESTINO") + "commit;\n" +
                                    FixtureDatabase::FillScript(WideRow(), rows));
  TConnection connection;
  connection.SetDatabasePath(db.Path());
  TAttachment attachment(connection);
  const std::vector<std::vector<TValue>> source =
      RowsOf(connection, TTableLayout::Read(connection, "ORIGEM"));
  ASSERT_EQ(source.size(), std::size_t(rows));
  const TTableLayout layout = TTableLayout::Read(connection, "DESTINO");
  TRowBatcher batcher(connection, layout);
  // 38 values a row, about 6 KB of them: well past 64 KiB a block.
  EXPECT_GE(batcher.BlockRows(), 50u);
  for (const std::vector<TValue>& row : source) {
    batcher.Add(row, 3);
  }
  batcher.Retry();
  connection.Transaction().Commit();
  EXPECT_EQ(batcher.Inserted(), rows);
  EXPECT_EQ(batcher.Inserted(3), rows);
  EXPECT_EQ(batcher.Inserted(0), 0);
  EXPECT_TRUE(batcher.Refused().empty());
  EXPECT_EQ(batcher.BlocksRefused(), 0);
  // The first 128 one by one, then blocks of 16, 64 and the largest; the
  // last rows by the sizes prepared before: 31 blocks, not 50 or more.
  EXPECT_GT(batcher.BlocksInserted(), 0);
  EXPECT_LT(batcher.BlocksInserted(), rows / 20);
  // Every value, nulls included, as the source has it.
  // (A blob compares by its id: by its text here.)
  std::string columns = "ID, N, D, TS, F, B, C, cast(M as varchar(100)) M";
  for (int i = 0; i < 30; ++i) {
    columns += ", S" + std::to_string(i);
  }
  EXPECT_EQ(db.Value("select count(*) from (select " + columns + " from ORIGEM union select " +
                     columns + " from DESTINO)"),
            std::to_string(rows));
}

// A child stored before its parent is refused until the parent is in; a
// row the table refuses for good, and one whose parent no source has, are
// handed back with the server's reason, the others all go in.
TEST(RowBatcher, RefusedRowsAreRetriedAfterTheirParentsAndTheRestHandedBack) {
  TestFolder folder;
  const FixtureDatabase db = FixtureDatabase::Create(
      folder.File("ARVORE.FDB"),
      "create table T (ID integer not null primary key, PAI integer references T (ID),"
      " S varchar(20), constraint SEM_77 check (ID <> 77));\n");
  TConnection connection;
  connection.SetDatabasePath(db.Path());
  TAttachment attachment(connection);
  const TTableLayout layout = TTableLayout::Read(connection, "T");
  TRowBatcher batcher(connection, layout);
  ASSERT_GT(batcher.BlockRows(), 1u);
  // In key order, rows 1 to 99 each refer to the next one, so each comes
  // before its parent; 77 is refused by the check, so 1 to 76 wait for a
  // parent that never comes. Row 2000 refers to a key no row has. The
  // others refer to row 100 or to none.
  const int rows = 1000;
  for (int id = 1; id <= rows; ++id) {
    const TValue parent = id < 100 ? TValue(id + 1) : id % 3 == 0 ? TValue(100) : TValue();
    batcher.Add({TValue(id), parent, TValue("linha " + std::to_string(id))}, id % 2);
  }
  batcher.Add({TValue(2000), TValue(1999), TValue("órfã")}, 0);
  batcher.Retry();
  connection.Transaction().Commit();

  EXPECT_EQ(batcher.Inserted(), rows - 77);
  EXPECT_EQ(batcher.Inserted(1), 461);  // the odd keys from 79 to 999
  EXPECT_EQ(batcher.Inserted(0) + batcher.Inserted(1), rows - 77);
  ASSERT_EQ(batcher.Refused().size(), 78u);
  EXPECT_EQ(db.Value("select count(*) from T"), std::to_string(rows - 77));
  EXPECT_EQ(db.Value("select min(ID) from T"), "78");
  EXPECT_EQ(db.Value("select count(*) from T where S = 'linha ' || ID"), std::to_string(rows - 77));
  int check = 0;
  int reference = 0;
  for (const TRowBatcher::TRefused& row : batcher.Refused()) {
    const long long id = row.values.at(0).AsInt64();
    EXPECT_TRUE(id <= 77 || id == 2000) << id;
    EXPECT_EQ(row.source, id == 2000 ? 0 : int(id % 2));
    check += row.error.find("SEM_77") != std::string::npos ? 1 : 0;
    reference += row.error.find("FOREIGN KEY") != std::string::npos ? 1 : 0;
  }
  EXPECT_EQ(check, 1) << batcher.Refused().front().error;
  EXPECT_EQ(reference, 77);
  // Handed back in the order they were given.
  EXPECT_EQ(batcher.Refused().front().values.at(0).AsInt64(), 1);
  EXPECT_EQ(batcher.Refused().back().values.at(0).AsInt64(), 2000);
}

// Forced writes are off while a pause holds and on again after it, whether
// it is resumed or left by an error; a database that lets in only one
// attachment keeps them on and the pause does nothing.
TEST(ForcedWritesPause, OffWhileHeldOnAfterwardsAndNothingWhenNoSecondAttachment) {
  TestFolder folder;
  const FixtureDatabase db =
      FixtureDatabase::Create(folder.File("ESCRITA.FDB"), "create table T (ID integer);\n");
  TConnection connection;
  connection.SetDatabasePath(db.Path());
  {
    TAttachment attachment(connection);
    ASSERT_TRUE(TForcedWritesPause::ForcedWrites(connection.Database()));
    {
      TForcedWritesPause pause(connection);
      EXPECT_TRUE(pause.Paused());
      EXPECT_FALSE(TForcedWritesPause::ForcedWrites(connection.Database()));
      pause.Resume();
      EXPECT_FALSE(pause.Paused());
      EXPECT_TRUE(TForcedWritesPause::ForcedWrites(connection.Database()));
    }
    try {
      TForcedWritesPause pause(connection);
      EXPECT_FALSE(TForcedWritesPause::ForcedWrites(connection.Database()));
      throw std::runtime_error("falha no meio da cópia");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(TForcedWritesPause::ForcedWrites(connection.Database()));
  }
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-shut", "single", "-force", "0"}).Ok());
  {
    TAttachment attachment(connection);
    TForcedWritesPause pause(connection);
    EXPECT_FALSE(pause.Paused());
    EXPECT_TRUE(TForcedWritesPause::ForcedWrites(connection.Database()));
    pause.Resume();  // nothing to do
  }
  ASSERT_TRUE(ServerTools::Gfix(db.Path(), {"-online"}).Ok());
  EXPECT_TRUE(ServerTools::WaitUntilReleased(db.Path()));
}

}  // namespace

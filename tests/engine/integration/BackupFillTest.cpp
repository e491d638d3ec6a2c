// The fill from the older backup on its own against the running server: the
// rows the older database holds and the repaired one lacks come back whole,
// found by key (the keys of both compared, the few missing rows then read by
// key, or many in one pass) or, for a table without a key, as whole rows.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "engine/firebird/TAttachment.h"
#include "engine/firebird/TConnection.h"
#include "engine/rows/TBackupFill.h"
#include "engine/rows/TKeyRuns.h"
#include "engine/run/TRecoveryContext.h"
#include "support/FixtureDatabase.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

// A two-column key whose text part is CHAR (stored with trailing blanks), a
// table with more missing rows than are looked up one by one, and a table
// without a key holding one row twice.
const char* const kSchema =
    "create table ITENS (COD char(8) not null, SEQ integer not null, VALOR numeric(15,2),"
    " OBS varchar(20), constraint PK_ITENS primary key (COD, SEQ));\n"
    "create table MUITOS (ID integer not null primary key, NOME varchar(20));\n"
    "create table SOLTOS (A integer, B varchar(10));\n"
    "create table POUCOS (ID bigint not null primary key, NOME varchar(20));\n"
    "commit;\n";

const char* const kOlderRows =
    "set term ^;\n"
    "execute block as declare i integer = 1; begin\n"
    "  while (i <= 3000) do begin\n"
    "    insert into MUITOS values (:i, 'Nome ' || :i);\n"
    "    insert into ITENS values ('I' || mod(:i, 7), :i, :i * 1.5, iif(mod(:i, 5) = 0, null,"
    " 'Obs ' || :i));\n"
    "    i = i + 1;\n"
    "  end\n"
    "end^\n"
    "set term ;^\n"
    "insert into SOLTOS values (1, 'um');\n"
    "insert into SOLTOS values (1, 'um');\n"
    "insert into SOLTOS values (2, null);\n"
    "insert into POUCOS values (-9223372036854775808, 'menor');\n"
    "insert into POUCOS values (-1, 'menos um');\n"
    "insert into POUCOS values (0, 'zero');\n"
    "insert into POUCOS values (1, 'um');\n"
    "insert into POUCOS values (5, 'cinco');\n"
    "insert into POUCOS values (6, 'seis');\n"
    "insert into POUCOS values (9223372036854775807, 'maior');\n"
    "commit;\n";

TEST(BackupFill, BringsBackEveryMissingRowWholeAndNeverChangesARowTheRepairedDatabaseHas) {
  TestFolder folder;
  const FixtureDatabase older =
      FixtureDatabase::Create(folder.File("ANTIGO.FDB"), std::string(kSchema) + kOlderRows);
  const FixtureDatabase repaired =
      FixtureDatabase::Create(folder.File("REPARADO.FDB"), std::string(kSchema) + kOlderRows);
  // Three rows of ITENS gone (looked up by key), one changed since the
  // backup; 2,500 of MUITOS gone (one pass); one of the twin rows of SOLTOS;
  // four of POUCOS, the ends of BIGINT among them, while it gained a key
  // between two others (each integer key compared as runs of consecutive
  // values).
  repaired.Execute(
      "delete from ITENS where SEQ in (10, 700, 2999);\n"
      "update ITENS set VALOR = 0, OBS = 'novo' where SEQ = 11;\n"
      "delete from MUITOS where ID > 500;\n"
      "delete from SOLTOS where A = 1;\n"
      "insert into SOLTOS values (1, 'um');\n"
      "delete from POUCOS where ID in (-9223372036854775808, 0, 6, 9223372036854775807);\n"
      "insert into POUCOS values (3, 'novo');\n");

  ScriptedHost host;
  host.ScriptRowsFromBackup(MessageAnswer::Yes);
  TRecoveryContext context(host, folder.File("EMPRESA.FDB"), "");
  TConnection target(context.Credentials());
  target.SetDatabasePath(repaired.Path());
  TConnection source(context.Credentials());
  source.SetDatabasePath(older.Path());
  // The server gives the runs: the fill does not fall back to every key.
  {
    TAttachment attachment(source);
    EXPECT_EQ((TKeyRuns::TRuns{
                  {std::numeric_limits<long long>::min(), std::numeric_limits<long long>::min()},
                  {-1, 1},
                  {5, 6},
                  {std::numeric_limits<long long>::max(), std::numeric_limits<long long>::max()}}),
              TKeyRuns::Read(source, "POUCOS", "ID"));
    EXPECT_EQ((TKeyRuns::TRuns{{1, 3000}}), TKeyRuns::Read(source, "MUITOS", "ID"));
  }
  const TableLosses filled =
      TBackupFill(context, target, source).Fill({"ITENS", "MUITOS", "SOLTOS", "POUCOS"});

  EXPECT_EQ(3, filled.at("ITENS").fromOlderBackup) << context.RunLogText();
  EXPECT_EQ(2500, filled.at("MUITOS").fromOlderBackup);
  EXPECT_EQ(1, filled.at("SOLTOS").fromOlderBackup);
  EXPECT_EQ(4, filled.at("POUCOS").fromOlderBackup);
  for (const auto& [table, loss] : filled) {
    EXPECT_EQ(0, loss.lost) << table;
  }
  // Whole rows, NULLs and all; the row changed since the backup kept.
  const std::string items = "select COD, SEQ, VALOR, OBS from ITENS where SEQ <> 11 order by SEQ";
  EXPECT_EQ(older.Query(items), repaired.Query(items));
  EXPECT_EQ("novo", repaired.Value("select OBS from ITENS where SEQ = 11"));
  const std::string many = "select ID, NOME from MUITOS order by ID";
  EXPECT_EQ(older.Query(many), repaired.Query(many));
  EXPECT_EQ("2", repaired.Value("select count(*) from SOLTOS where A = 1 and B = 'um'"));
  EXPECT_EQ("1", repaired.Value("select count(*) from SOLTOS where A = 2 and B is null"));
  const std::string few = "select ID, NOME from POUCOS where ID <> 3 order by ID";
  EXPECT_EQ(older.Query(few), repaired.Query(few));
  EXPECT_EQ(1u, host.Questions().size()) << host.TranscriptText();
  EXPECT_NE(std::string::npos, host.Questions()[0].find("MUITOS: 2500 registro(s)"));
  EXPECT_FALSE(target.Database().Connected());
  EXPECT_TRUE(ServerTools::WaitUntilReleased(repaired.Path()));
}

}  // namespace

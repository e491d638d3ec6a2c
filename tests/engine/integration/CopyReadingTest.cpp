// The pristine copy's pages read for the destroyed-rows count on a thread of
// their own while the run goes on: the count from a reading started early is
// the count read at the end, and a reading still going never holds up the
// end of the run.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "engine/firebird/TConnection.h"
#include "engine/rows/TCopyReading.h"
#include "engine/rows/TGoneRows.h"
#include "engine/run/TRecoveryContext.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/ScriptedHost.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::TestFolder;

namespace {

TEST(CopyReading, CountsTheSameDestroyedRowsAsAReadingAtTheEnd) {
  TestFolder folder;
  const FixtureDatabase db = FixtureDatabase::Create(
      folder.File("EMPRESA.FDB"),
      "create table CLIENTES (ID integer not null primary key, NOME varchar(60));\n"
      "create table NOTAS (ID integer not null primary key, TEXTO varchar(60));\n" +
          FixtureDatabase::FillScript(
              "insert into CLIENTES values (:i, 'Cliente ' || :i || ' com nome comprido')", 3000) +
          FixtureDatabase::FillScript("insert into NOTAS values (:i, 'Nota ' || :i)", 500));
  const std::string copy = folder.File("EMPRESA (Copia).FDB");
  std::filesystem::copy_file(db.Path(), copy);
  TestFolder::GiveToServer(copy);
  const testsupport::DamageReport damage =
      FileDamage::ZeroDataPage(FixtureDatabase(copy), "CLIENTES", "ID", 3);
  ASSERT_FALSE(damage.lostKeys.empty());
  // The repaired database lacks the page's rows but one, which came back.
  std::string keys;
  for (std::size_t i = 1; i < damage.lostKeys.size(); ++i) {
    keys += (keys.empty() ? "" : ", ") + damage.lostKeys[i];
  }
  db.Execute("delete from CLIENTES where ID in (" + keys + ")");

  TCopyReading reading;
  reading.Start(copy);
  ScriptedHost host;
  const TRecoveryContext context(host, db.Path(), "");
  TConnection result(context.Credentials());
  result.SetDatabasePath(db.Path());
  TGoneRows early(result, reading.Take(copy));
  const TableLosses fromEarly = early.Count();
  TGoneRows late(result, copy);
  const TableLosses fromLate = late.Count();

  ASSERT_EQ(1u, fromEarly.count("CLIENTES"));
  EXPECT_EQ(static_cast<long long>(damage.lostKeys.size() - 1), fromEarly.at("CLIENTES").lost);
  EXPECT_TRUE(fromEarly.at("CLIENTES").known);
  EXPECT_EQ(fromLate.at("CLIENTES").lost, fromEarly.at("CLIENTES").lost);
  EXPECT_EQ(fromLate.at("CLIENTES").keys, fromEarly.at("CLIENTES").keys);
  EXPECT_EQ(0, fromEarly.at("NOTAS").lost);
  EXPECT_EQ(late.Notes(), early.Notes());
  EXPECT_FALSE(result.Database().Connected());

  // Taken for another file: that file is read, the reading started dropped.
  reading.Start(copy);
  EXPECT_FALSE(reading.Take(folder.File("NENHUM.FDB")).readable);
  // A reading still going when the run ends is stopped between tables.
  const auto start = std::chrono::steady_clock::now();
  {
    TCopyReading dropped;
    dropped.Start(copy);
  }
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace

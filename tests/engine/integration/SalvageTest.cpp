// The salvage of step 8 on its own against the running server: an older
// backup restored into the temporary database and missing parent rows copied
// into a restored database, for tables whose names the server keeps quoted.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"
#include "support/FixtureDatabase.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

// A mixed-case table and key, a column with a blank (its parameter marker
// cannot carry its name) and a plain column named like the marker a blank
// name would get by position.
const char* const kSchema =
    "create table \"Clientes\" (\"Codigo\" integer not null primary key,"
    " \"Nome Fantasia\" varchar(30), P2 varchar(30), CIDADE varchar(30));\n";

std::unique_ptr<TInconsistency> Record(const std::string& table, const std::string& key) {
  auto record = std::make_unique<TInconsistency>();
  record->TableName = table;
  record->KeyFields = {"Codigo"};
  record->MissingKeys = {key};
  return record;
}

TEST(Salvage, CopiesRowsOfQuotedTablesColumnForColumnAndDetachesOnEveryEnd) {
  TestFolder folder;
  const FixtureDatabase older = FixtureDatabase::Create(
      folder.File("VELHO.FDB"),
      std::string(kSchema) +
          "insert into \"Clientes\" values (1, 'Fantasia 1', 'Segundo 1', 'Cidade 1');\n"
          "insert into \"Clientes\" values (2, 'Fantasia 2', 'Segundo 2', 'Cidade 2');\n");
  const std::string backup = folder.File("VELHO.FBK");
  ASSERT_TRUE(ServerTools::Backup(older.Path(), backup).Ok());
  const FixtureDatabase restored = FixtureDatabase::Create(folder.File("RESTAURADO.FDB"), kSchema);
  const std::string temporary = folder.File("EMPRESA-TEMP.FDB");

  ScriptedHost host;
  TRecoveryContext context(host, folder.File("EMPRESA.FDB"), backup);
  TFirebirdSteps steps(context);
  // As the orphan search leaves it: the target names the restored database.
  steps.TargetConnection().SetDatabasePath(restored.Path());

  std::vector<std::unique_ptr<TInconsistency>> list;
  list.push_back(Record("Clientes", "2"));
  EXPECT_TRUE(steps.doCopyDataFromOldBackup(list)) << host.TranscriptText();
  EXPECT_TRUE(list[0]->DataFound);
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();
  const auto copied = restored.Query("select * from \"Clientes\"");
  ASSERT_EQ(1u, copied.size());
  EXPECT_EQ(older.Query("select * from \"Clientes\" where \"Codigo\" = 2").at(0), copied[0]);
  EXPECT_TRUE(ServerTools::WaitUntilReleased(restored.Path()));
  EXPECT_TRUE(ServerTools::WaitUntilReleased(temporary));

  // A failure in the middle: the row copied before it stays, the error is
  // returned, and neither database is left attached.
  list.clear();
  list.push_back(Record("Clientes", "1"));
  list.push_back(Record("NAO_EXISTE", "1"));
  const StepResult failed = steps.doCopyDataFromOldBackup(list);
  EXPECT_FALSE(failed);
  EXPECT_TRUE(failed.WasRaised());
  EXPECT_TRUE(host.Questions().empty()) << host.TranscriptText();
  EXPECT_TRUE(list[0]->DataFound);
  EXPECT_FALSE(list[1]->DataFound);
  EXPECT_EQ("2", restored.Value("select count(*) from \"Clientes\""));
  EXPECT_FALSE(steps.TargetConnection().Database().Connected());
  EXPECT_FALSE(steps.SourceConnection().Database().Connected());
  EXPECT_TRUE(ServerTools::WaitUntilReleased(restored.Path()));
  EXPECT_TRUE(ServerTools::WaitUntilReleased(temporary));
  EXPECT_EQ(0u, host.UnusedAnswers());
}

}  // namespace

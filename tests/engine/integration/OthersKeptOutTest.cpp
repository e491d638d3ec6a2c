// Nobody else's write is lost during a run: from the mend to the end the
// database admits no other attachment, a second repair of the same database
// is refused at once, and whatever the end the database is online again.
// The real server throughout, on a damaged database whose backup takes
// seconds.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/ChildProcess.h"
#include "support/DamagedFixture.h"
#include "support/FixtureDatabase.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::ChildProcess;
using testsupport::DamagedFixture;
using testsupport::FixtureDatabase;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

// Online: the server refuses to bring it online again.
bool Online(const std::string& path) {
  return ServerTools::BringOnline(path).output.find("Target shutdown mode is invalid") !=
         std::string::npos;
}

std::unique_ptr<TThreadRecovery> Start(ScriptedHost& host, const std::string& database,
                                       const std::string& olderBackup) {
  return std::make_unique<TThreadRecovery>(host, database, olderBackup, &TFirebirdSteps::Create);
}

// The real routines, with another program attaching in a moment the run has
// given up its one attachment: as the mend begins, or right after the
// level-1 backup. It writes a row, commits and stays attached for a few
// seconds.
class IntruderSteps : public TFirebirdSteps {
 public:
  enum class Moment { MendBegins, BackupEnded, BackupEndedAndLeft };
  IntruderSteps(TRecoveryContext& context, Moment moment, std::unique_ptr<ChildProcess>& intruder)
      : TFirebirdSteps(context), moment_(moment), intruder_(intruder) {}

 protected:
  void GapOpened() override {
    if (moment_ == Moment::MendBegins) {
      Intrude();
    }
  }
  // The mend's use is the first, the backup's the second.
  void GapClosing() override {
    if (moment_ != Moment::MendBegins && ++closings_ == 2) {
      Intrude();
    }
  }

 private:
  void Intrude() {
    if (intruder_) {
      return;
    }
    const std::string script =
        "insert into AVULSOS (ID) values (-7); commit; "
        "select 'dentro' from rdb\\$database;";
    // Stays a few seconds, or leaves at once: then nobody is there to be seen.
    const std::string stay = moment_ == Moment::BackupEndedAndLeft ? "" : "; sleep 4";
    intruder_ = std::make_unique<ChildProcess>(std::vector<std::string>{
        "sh", "-c",
        "(echo \"" + script + "\"" + stay + ") | isql-fb -q -user " +
            std::string(ServerTools::kUser) + " -password " + ServerTools::kPassword +
            " 'localhost:" + Context().DatabasePath() + "'"});
    EXPECT_TRUE(intruder_->WaitForOutput("dentro", std::chrono::seconds(30)))
        << intruder_->Output();
    if (moment_ == Moment::BackupEndedAndLeft) {
      EXPECT_EQ(std::optional<int>(0), intruder_->WaitForExit(std::chrono::seconds(30)));
    }
  }

  Moment moment_;
  int closings_ = 0;
  std::unique_ptr<ChildProcess>& intruder_;
};

// The real routines, with a program that writes a row into the operator's
// database as soon as the file the run kept out is brought online.
class OnlineWriterSteps : public TFirebirdSteps {
 public:
  using TFirebirdSteps::TFirebirdSteps;

  StepResult bringOnline(const std::string& databasePath) override {
    StepResult result = TFirebirdSteps::bringOnline(databasePath);
    const std::string& database = Context().DatabasePath();
    if (!wrote_ && (databasePath == database || databasePath.find("-OLD") != std::string::npos)) {
      wrote_ = true;
      FixtureDatabase(database).Execute("insert into AVULSOS (ID) values (-9);");
    }
    return result;
  }

 private:
  bool wrote_ = false;
};

}  // namespace

// The names change at level 2 while nobody else can attach: a program that
// writes the moment the database is online again writes into the repaired
// database at the operator's path, not into the file set aside.
TEST(OthersKeptOut, AWriteAsTheDatabaseComesOnlineLandsInTheRepairedDatabase) {
  TestFolder folder;
  const DamagedFixture fixture(folder.Path(), DamagedFixture::Options{});
  const std::string database = folder.File("EMPRESA.FDB");
  fixture.PlaceAt(database);

  ScriptedHost host;
  host.RecordLogLines(false);
  host.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido");
  TThreadRecovery run(host, database, fixture.OlderBackup(), [](TRecoveryContext& context) {
    return std::make_unique<OnlineWriterSteps>(context);
  });
  ASSERT_TRUE(run.WaitFor(std::chrono::minutes(3))) << host.TranscriptText();
  EXPECT_EQ(0u, host.UnusedAnswers()) << host.TranscriptText();
  EXPECT_EQ("1", FixtureDatabase(database).Value("select count(*) from AVULSOS where ID = -9"));
  EXPECT_TRUE(Online(folder.File("EMPRESA-OLD.FDB")));
}

// Another program attaches in a moment the run has given up its one
// attachment, writes a row and stays a few seconds. As the mend begins, it
// keeps the mend and the backup out; right after the level-1 backup, its row
// is missing from the restored database, also when it left before the run
// took its attachment back. Either way the run names it and
// never says "corrigido", the program's row stays in the operator's file,
// and the database is online once the program has gone.
class Intrusion : public testing::TestWithParam<IntruderSteps::Moment> {};

TEST_P(Intrusion, IsNamedAndTheWriteStaysInTheOperatorsFile) {
  const bool mend = GetParam() == IntruderSteps::Moment::MendBegins;
  TestFolder folder;
  DamagedFixture::Options options;
  options.damage =
      mend ? DamagedFixture::Damage::ParentTable : DamagedFixture::Damage::StandaloneTable;
  const DamagedFixture fixture(folder.Path(), options);
  const std::string database = folder.File("EMPRESA.FDB");
  fixture.PlaceAt(database);

  std::unique_ptr<ChildProcess> intruder;
  ScriptedHost host;
  host.RecordLogLines(false);
  if (mend) {
    host.Answer(MessageAnswer::Ok, "doMend() -> Excetion: ");
    host.Answer(MessageAnswer::Ok, "doBackup() -> Excetion: ");
  }
  host.Answer(MessageAnswer::Ok, "O banco de dados continua corrompido.");
  TThreadRecovery run(host, database, fixture.OlderBackup(), [&](TRecoveryContext& context) {
    return std::make_unique<IntruderSteps>(context, GetParam(), intruder);
  });
  ASSERT_TRUE(run.WaitFor(std::chrono::minutes(2))) << host.TranscriptText();

  ASSERT_TRUE(intruder);
  const std::string closing = run.ClosingText();
  EXPECT_NE(std::string::npos,
            closing.find("Outra conexão ocupou o banco de dados enquanto ele estava em "
                         "manutenção para o reparo"))
      << closing;
  EXPECT_EQ(std::string::npos, closing.find("corrigido")) << closing;
  EXPECT_EQ(std::string::npos, closing.find("gfix -online")) << closing;
  EXPECT_EQ(0u, host.UnusedAnswers()) << host.TranscriptText();
  EXPECT_TRUE(Online(database));
  EXPECT_EQ("1", FixtureDatabase(database).Value("select count(*) from AVULSOS where ID = -7"));
}

INSTANTIATE_TEST_SUITE_P(Moments, Intrusion,
                         testing::Values(IntruderSteps::Moment::MendBegins,
                                         IntruderSteps::Moment::BackupEnded,
                                         IntruderSteps::Moment::BackupEndedAndLeft),
                         [](const testing::TestParamInfo<IntruderSteps::Moment>& info) {
                           switch (info.param) {
                             case IntruderSteps::Moment::MendBegins:
                               return std::string("AsTheMendBegins");
                             case IntruderSteps::Moment::BackupEnded:
                               return std::string("RightAfterTheBackup");
                             case IntruderSteps::Moment::BackupEndedAndLeft:
                               break;
                           }
                           return std::string("RightAfterTheBackupLeavingAtOnce");
                         });

TEST(OthersKeptOut, WriterDuringTheBackupAndASecondRunAreKeptOut) {
  TestFolder folder;
  DamagedFixture::Options options;
  options.damage = DamagedFixture::Damage::StandaloneTable;
  options.bulkRows = 250000;
  const DamagedFixture fixture(folder.Path(), options);
  const std::string database = folder.File("EMPRESA.FDB");
  fixture.PlaceAt(database);

  ScriptedHost first;
  first.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido");
  auto run = Start(first, database, fixture.OlderBackup());
  // The backup's own attachment is in once the server has started writing.
  ASSERT_TRUE(first.WaitForCall("WriteLog -1 gbak:writing domains", std::chrono::minutes(2)))
      << first.TranscriptText();

  // Another program tries to write while the backup runs: refused.
  std::string refusal;
  try {
    FixtureDatabase(database).Execute("insert into AVULSOS (ID) values (-1);");
  } catch (const std::exception& error) {
    refusal = error.what();
  }
  EXPECT_NE(std::string::npos, refusal.find("shutdown")) << refusal;

  // A second repair of the same database is refused at step 1 and makes nothing.
  ScriptedHost second;
  second.Answer(MessageAnswer::Ok, "O banco de dados estava em uso");
  {
    auto other = Start(second, database, fixture.OlderBackup());
    ASSERT_TRUE(other->WaitFor(std::chrono::minutes(1)));
    EXPECT_NE(std::string::npos,
              other->ClosingText().find("Outra reparação deste banco de dados está em andamento"))
        << other->ClosingText();
    EXPECT_TRUE(other->FilesMade().empty());
  }

  ASSERT_TRUE(run->WaitFor(std::chrono::minutes(4))) << first.TranscriptText();
  run.reset();
  // Online again, open to everyone; the refused row was never written.
  EXPECT_TRUE(Online(database));
  const FixtureDatabase after(database);
  after.Execute("insert into AVULSOS (ID) values (-2);");
  EXPECT_EQ("0", after.Value("select count(*) from AVULSOS where ID = -1"));
}

// A trigger of the database on connect writes a row at each attachment: the
// run's own attachments and its backup's write none, so no intrusion is
// seen where nobody else came, and the repair ends as usual.
TEST(OthersKeptOut, ATriggerOnConnectThatWritesIsNoIntrusion) {
  TestFolder folder;
  DamagedFixture::Options options;
  options.damage = DamagedFixture::Damage::StandaloneTable;
  options.connectTrigger = true;
  const DamagedFixture fixture(folder.Path(), options);
  const std::string database = folder.File("EMPRESA.FDB");
  fixture.PlaceAt(database);

  ScriptedHost host;
  host.RecordLogLines(false);
  host.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido");
  auto run = Start(host, database, fixture.OlderBackup());
  ASSERT_TRUE(run->WaitFor(std::chrono::minutes(2))) << host.TranscriptText();
  EXPECT_EQ(0u, host.UnusedAnswers()) << host.TranscriptText();
  EXPECT_EQ(std::string::npos, run->ClosingText().find("Outra conexão")) << run->ClosingText();
}

// A database an interrupted run left in maintenance is named at step 1; with
// Não it stays as it is and nothing is touched, with Sim it is brought online
// and repaired.
TEST(OthersKeptOut, DatabaseLeftInMaintenanceIsBroughtOnlineOnlyWithConsent) {
  TestFolder folder;
  DamagedFixture::Options options;
  options.damage = DamagedFixture::Damage::StandaloneTable;
  const DamagedFixture fixture(folder.Path(), options);
  const std::string database = folder.File("EMPRESA.FDB");
  fixture.PlaceAt(database);
  ASSERT_TRUE(ServerTools::Gfix(database, {"-shut", "single", "-force", "0"}).Ok());

  ScriptedHost refused;
  refused.Answer(MessageAnswer::No, "modo de manutenção");
  refused.Answer(MessageAnswer::Ok, "O banco de dados ainda não foi validade.");
  {
    auto run = Start(refused, database, fixture.OlderBackup());
    ASSERT_TRUE(run->WaitFor(std::chrono::minutes(1)));
    EXPECT_TRUE(run->FilesMade().empty());
  }
  EXPECT_FALSE(Online(database));
  ASSERT_TRUE(ServerTools::Gfix(database, {"-shut", "single", "-force", "0"}).Ok());

  ScriptedHost consented;
  consented.RecordLogLines(false);
  consented.Answer(MessageAnswer::Yes, "modo de manutenção");
  consented.Answer(MessageAnswer::Ok, "O banco de dados foi corrigido");
  {
    auto run = Start(consented, database, fixture.OlderBackup());
    ASSERT_TRUE(run->WaitFor(std::chrono::minutes(2))) << consented.TranscriptText();
  }
  EXPECT_EQ(0u, consented.UnusedAnswers()) << consented.TranscriptText();
  EXPECT_TRUE(Online(database));
}

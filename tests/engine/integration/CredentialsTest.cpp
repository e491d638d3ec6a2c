// Logins of real runs with an account of the test's own, which is not SYSDBA
// and owns none of the databases it repairs. Firebird 3 lets such an account
// validate, mend, back up, restore into a new file and bring online only as
// RDB$ADMIN: here a global mapping gives it that role in every database, so
// it needs no role at login (measured: without it each of those requests
// answers "You must be either SYSDBA or owner of the database", and a restore
// "no permission for CREATE access to DATABASE").
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/firebird/TCredentialSource.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/SampleSchema.h"
#include "support/ScriptedHost.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::SampleSchema;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

const std::string kPassword = "Cr3d-teste";
// The damaged table's rows are gone with no older backup to count them: a
// repair with losses.
const char* const kRepaired = "O banco de dados foi corrigido, mas ";

// The account's name: one per test program, so parallel runs do not meet.
std::string AccountName() {
  return "TESS_CRED_" + std::to_string(::getpid());
}

// A fixed environment instead of the process's.
TCredentialSource::Environment Environment(std::map<std::string, std::string> values) {
  return [values](const char* name) -> std::optional<std::string> {
    const auto found = values.find(name);
    if (found == values.end()) {
      return std::nullopt;
    }
    return found->second;
  };
}

class Credentials : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Users and mappings live in the security database; any attachment
    // reaches them.
    suiteFolder_ = new TestFolder("tessarine-cred");
    const FixtureDatabase admin =
        FixtureDatabase::Create(suiteFolder_->File("ADMIN.FDB"), "create table t (i int);");
    admin.Execute("create or alter user " + AccountName() + " password '" + kPassword +
                  "' using plugin Srp;");
    admin.Execute("create or alter global mapping " + AccountName() +
                  "_ADMIN using plugin Srp from user " + AccountName() + " to role rdb$admin;");
  }

  static void TearDownTestSuite() {
    const FixtureDatabase admin(suiteFolder_->File("ADMIN.FDB"));
    admin.Execute("drop global mapping " + AccountName() + "_ADMIN;");
    admin.Execute("drop user " + AccountName() + " using plugin Srp;");
    delete suiteFolder_;
    suiteFolder_ = nullptr;
  }

  // A database of SYSDBA with a zeroed page in a table no other refers to:
  // level 1 repairs it with validation, mend, backup, restore and online.
  FixtureDatabase DamagedDatabase() {
    const FixtureDatabase db = SampleSchema(SampleSchema::Kind::NamedConstraints, 300)
                                   .CreateDatabase(folder_.File("EMPRESA.FDB"));
    EXPECT_FALSE(FileDamage::ZeroDataPage(db, "AVULSOS", "ID", 1).lostKeys.empty());
    return db;
  }

  static void Run(ScriptedHost& host, const std::string& database,
                  const TCredentials& credentials) {
    TThreadRecovery recovery(host, database, "", &TFirebirdSteps::Create, credentials);
    ASSERT_TRUE(recovery.WaitFor(std::chrono::minutes(3))) << host.TranscriptText();
  }

  // The owner of the database the run restored: the account that restored it.
  std::string RestoredOwner(const ScriptedHost& host) {
    const auto calls = host.Calls("ReportStep 6 2 10 Restaurado em: ");
    if (calls.empty()) {
      return "<nothing restored>";
    }
    const std::string name =
        calls.front().substr(std::string("ReportStep 6 2 10 Restaurado em: ").size());
    return FixtureDatabase(folder_.File(name)).Value("select trim(mon$owner) from mon$database");
  }

  static TestFolder* suiteFolder_;
  TestFolder folder_;
};

TestFolder* Credentials::suiteFolder_ = nullptr;

TEST_F(Credentials, EnvironmentAccountRepairsADatabaseItDoesNotOwn) {
  const TCredentials credentials = TCredentialSource::Resolve(
      std::nullopt, std::nullopt,
      Environment({{"ISC_USER", AccountName()}, {"ISC_PASSWORD", kPassword}}),
      folder_.File("no-debian-file"));
  EXPECT_EQ(credentials.Source(), "ISC_USER/ISC_PASSWORD");

  const FixtureDatabase db = DamagedDatabase();
  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kRepaired);
  Run(host, db.Path(), credentials);

  EXPECT_TRUE(host.Calls("AskCredentials").empty()) << host.TranscriptText();
  EXPECT_EQ(RestoredOwner(host), AccountName()) << host.TranscriptText();
  EXPECT_EQ(host.TranscriptText().find(kPassword), std::string::npos);
}

TEST_F(Credentials, PasswordFileWinsOverTheEnvironmentAndRepairs) {
  const std::string file = folder_.File("senha");
  std::ofstream(file) << kPassword << "\n";
  // The environment names SYSDBA with a wrong password: were it used, the
  // login would be refused.
  const TCredentials credentials = TCredentialSource::Resolve(
      AccountName(), file, Environment({{"ISC_USER", "sysdba"}, {"ISC_PASSWORD", "errada"}}),
      folder_.File("no-debian-file"));
  EXPECT_EQ(credentials.Source(), "arquivo de senha " + file);

  const FixtureDatabase db = DamagedDatabase();
  ScriptedHost host;
  host.Answer(MessageAnswer::Ok, kRepaired);
  Run(host, db.Path(), credentials);

  EXPECT_TRUE(host.Calls("AskCredentials").empty()) << host.TranscriptText();
  EXPECT_EQ(RestoredOwner(host), AccountName()) << host.TranscriptText();
}

TEST_F(Credentials, BuiltInAccountOnlyWhenNoOtherSourceExists) {
  const std::string debian = folder_.File("SYSDBA.password");
  std::ofstream(debian) << "ISC_USER=" << AccountName() << "\nISC_PASSWORD=\"" << kPassword
                        << "\"\n";
  const TCredentials fromDebian =
      TCredentialSource::Resolve(std::nullopt, std::nullopt, Environment({}), debian);
  EXPECT_EQ(fromDebian.User(), AccountName());
  EXPECT_EQ(fromDebian.Source(), debian);

  const TCredentials builtIn = TCredentialSource::Resolve(
      std::nullopt, std::nullopt, Environment({}), folder_.File("no-debian-file"));
  EXPECT_EQ(builtIn.Source(), TCredentials::BuiltIn().Source());

  // Both log in for real: a healthy database passes validation.
  for (const TCredentials& credentials : {fromDebian, builtIn}) {
    TestFolder folder;
    const FixtureDatabase db = SampleSchema(SampleSchema::Kind::NamedConstraints, 50)
                                   .CreateDatabase(folder.File("EMPRESA.FDB"));
    ScriptedHost host;
    host.Answer(MessageAnswer::Ok, "O banco de dados informado não possui erros.");
    Run(host, db.Path(), credentials);
    EXPECT_EQ(host.UnusedAnswers(), 0u) << credentials.Source() << "\n" << host.TranscriptText();
  }
}

TEST_F(Credentials, RefusedLoginWithoutTypedCredentialsEndsTheRunAndChangesNothing) {
  const std::string wrong = "senha-errada-123";
  const TCredentials credentials = TCredentialSource::Resolve(
      std::nullopt, std::nullopt,
      Environment({{"ISC_USER", AccountName()}, {"ISC_PASSWORD", wrong}}),
      folder_.File("no-debian-file"));
  const FixtureDatabase db = DamagedDatabase();
  const std::string before = FileDamage::ReadWhole(db.Path());

  ScriptedHost host;  // answers AskCredentials with nothing: the operator gave up
  host.Answer(MessageAnswer::Ok, "recusou o login");
  Run(host, db.Path(), credentials);

  const auto asked = host.Calls("AskCredentials " + AccountName() + " ");
  EXPECT_EQ(asked.size(), 1u) << host.TranscriptText();
  EXPECT_TRUE(host.Calls("ReportStep 2").empty());
  EXPECT_EQ(host.TranscriptText().find("em uso"), std::string::npos);
  EXPECT_EQ(host.TranscriptText().find(wrong), std::string::npos);
  EXPECT_EQ(FileDamage::ReadWhole(db.Path()), before);
  // No working copy or other file was made, only the run's report, which
  // holds no password either.
  std::vector<std::string> entries;
  for (const auto& entry : std::filesystem::directory_iterator(folder_.Path())) {
    const std::string name = entry.path().filename().string();
    if (name.ends_with(".txt")) {
      EXPECT_EQ(FileDamage::ReadWhole(entry.path().string()).find(wrong), std::string::npos);
    } else {
      entries.push_back(name);
    }
  }
  EXPECT_EQ(entries, std::vector<std::string>{"EMPRESA.FDB"});
}

}  // namespace

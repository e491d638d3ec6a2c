// Databases and transactions against the real local server: attach and detach
// through "localhost:", the dialect, commit, rollback, the commit on detach and
// the server's own texts for a refused login and a missing file.

#include <gtest/gtest.h>

#include <ibase.h>

#include <memory>
#include <string>

#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"

namespace {

using testsupport::FixtureDatabase;
using testsupport::TestFolder;

class ConnectionIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_ = std::make_unique<FixtureDatabase>(
        FixtureDatabase::Create(folder_.File("CONEXAO.FDB"), "create table ITENS (ID integer);"));
    database_.SetDefaultTransaction(&transaction_);
    transaction_.SetDefaultDatabase(&database_);
    database_.AddParam("user_name=sysdba");
    database_.AddParam("password=lumenrock");
    database_.SetLoginPrompt(false);
    database_.SetDatabaseName("localhost:" + fixture_->Path());
  }

  // One insert in the running transaction, straight through the client.
  void Insert(int id) {
    const std::string sql = "insert into ITENS (ID) values (" + std::to_string(id) + ")";
    transaction_.CheckStatus(fbdetail::Api().isc_dsql_execute_immediate(
        fbdetail::StatusVector(), database_.Handle(), transaction_.Handle(),
        static_cast<unsigned short>(sql.size()), sql.c_str(), 3, nullptr));
  }

  TestFolder folder_{"tessarine-conn"};
  std::unique_ptr<FixtureDatabase> fixture_;
  TIBDatabase database_;
  TIBTransaction transaction_;
};

TEST_F(ConnectionIntegration, AttachReadsTheDialectAndDetachResetsIt) {
  database_.Open();
  EXPECT_TRUE(database_.Connected());
  EXPECT_NE(*database_.Handle(), 0u);
  EXPECT_EQ(database_.DBSQLDialect(), 3);
  EXPECT_EQ(database_.SQLDialect(), 3);
  database_.Close();
  EXPECT_FALSE(database_.Connected());
  EXPECT_EQ(database_.DBSQLDialect(), 1);
  // Attaching again after a detach works with the same parameters.
  database_.Open();
  EXPECT_TRUE(database_.Connected());
}

TEST_F(ConnectionIntegration, CommitKeepsRollbackDropsAndDetachCommits) {
  database_.Open();
  transaction_.Start();
  Insert(1);
  transaction_.Rollback();
  EXPECT_FALSE(transaction_.Active());
  EXPECT_EQ(fixture_->Count("ITENS"), 0);

  transaction_.Start();
  Insert(2);
  transaction_.CommitRetaining();
  Insert(3);
  transaction_.Commit();
  EXPECT_EQ(fixture_->Count("ITENS"), 2);

  transaction_.Start();
  Insert(4);
  database_.Close();  // commits what is still active
  EXPECT_FALSE(transaction_.Active());
  EXPECT_EQ(fixture_->Column("select ID from ITENS order by ID"),
            (std::vector<std::string>{"2", "3", "4"}));
}

TEST_F(ConnectionIntegration, TransactionParametersReachTheServer) {
  database_.Open();
  transaction_.SetParams({"read", "read_committed", "rec_version", "nowait"});
  transaction_.Start();
  // A read-only transaction refuses the insert with the server's text.
  try {
    Insert(5);
    ADD_FAILURE() << "insert in a read-only transaction succeeded";
  } catch (const EIBInterBaseError& error) {
    EXPECT_NE(std::string(error.what()).find("read-only"), std::string::npos) << error.what();
  }
  transaction_.Rollback();
}

TEST_F(ConnectionIntegration, WrongPasswordGivesTheServersText) {
  // One attempt only: the server slows down repeated failed logins.
  database_.SetParams({"user_name=sysdba", "password=wrong"});
  try {
    database_.Open();
    ADD_FAILURE() << "attach with a wrong password succeeded";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login");
    EXPECT_EQ(error.EngineCode(), isc_login);
  }
  EXPECT_FALSE(database_.Connected());
  EXPECT_EQ(*database_.Handle(), 0u);
}

TEST_F(ConnectionIntegration, MissingFileGivesTheServersLines) {
  const std::string missing = folder_.File("NAOEXISTE.FDB");
  database_.SetDatabaseName("localhost:" + missing);
  try {
    database_.Open();
    ADD_FAILURE() << "attach of a missing file succeeded";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()), "I/O error during \"open\" operation for file \"" +
                                             missing +
                                             "\"\r\nError while trying to open file\r\nNo "
                                             "such file or directory");
    EXPECT_EQ(error.EngineCode(), isc_io_error);
  }
  EXPECT_FALSE(database_.Connected());
}

}  // namespace

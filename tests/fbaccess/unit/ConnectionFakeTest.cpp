// Databases and transactions against the fake client: the calls made, their
// buffers, the composed errors and every check of the layer with its index.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/EIBInterBaseRoleError.h"
#include "fbaccess/IIBDependent.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBTransaction.h"
#include "fbaccess/detail/ClientApi.h"

namespace {

constexpr ISC_STATUS kLostConnection = 335544741;
constexpr ISC_STATUS kLoginFailed = 335544472;
const std::string kPath = "localhost:/dados/EMPRESA.FDB";

template <typename F>
void ExpectClientError(F call, int index, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected client error " << index << " " << message;
  } catch (const EIBClientError& error) {
    EXPECT_EQ(error.SqlCode(), index);
    EXPECT_EQ(std::string(error.what()), message);
  }
}

// Records what the layer tells a statement, into the fake's call log so that
// the order against the client calls shows.
class RecordingDependent : public IIBDependent {
 public:
  void DatabaseClosing() override { Fake().Record("DatabaseClosing", {}); }
  void TransactionEnding() override { Fake().Record("TransactionEnding", {}); }
};

class Connection : public ::testing::Test {
 protected:
  void SetUp() override {
    Fake().Reset();
    ClientLibrary::SetErrorMessages({});
    database_ = std::make_unique<TIBDatabase>();
    transaction_ = std::make_unique<TIBTransaction>();
    database_->SetDefaultTransaction(transaction_.get());
    transaction_->SetDefaultDatabase(database_.get());
    database_->AddParam("user_name=sysdba");
    database_->AddParam("password=lumenrock");
    database_->SetLoginPrompt(false);
    database_->SetDatabaseName(kPath);
  }
  void TearDown() override { ClientLibrary::SetErrorMessages({}); }

  std::vector<std::string> NamesSince(std::size_t first) const {
    const std::vector<std::string> names = Fake().Names();
    std::vector<std::string> result;
    for (std::size_t i = first; i < names.size(); ++i) {
      if (names[i] != "isc_sqlcode" && names[i] != "isc_interprete" &&
          names[i] != "isc_vax_integer") {
        result.push_back(names[i]);
      }
    }
    return result;
  }

  std::unique_ptr<TIBDatabase> database_;
  std::unique_ptr<TIBTransaction> transaction_;
};

using Names = std::vector<std::string>;

TEST_F(Connection, OpenAttachesWithTheDpbAndReadsTheDialect) {
  database_->Open();
  ASSERT_TRUE(database_->Connected());
  const auto attaches = Fake().CallsTo("isc_attach_database");
  ASSERT_EQ(attaches.size(), 1u);
  EXPECT_EQ(attaches[0].args[0], kPath);
  EXPECT_EQ(attaches[0].args[1], "0");
  EXPECT_EQ(attaches[0].args[2], Bytes({1, 28, 6}) + "sysdba" + Bytes({29, 9}) + "lumenrock");
  const auto infos = Fake().CallsTo("isc_database_info");
  ASSERT_EQ(infos.size(), 1u);
  EXPECT_EQ(infos[0].args[0], std::to_string(*database_->Handle()));
  EXPECT_EQ(infos[0].args[1], Bytes({62}));
  EXPECT_EQ(infos[0].args[2], "512");
  EXPECT_EQ(database_->DBSQLDialect(), 3);
  EXPECT_EQ(database_->SQLDialect(), 3);

  database_->Open();  // already attached: nothing happens
  EXPECT_EQ(Fake().CallsTo("isc_attach_database").size(), 1u);

  const std::string handle = std::to_string(*database_->Handle());
  database_->Close();
  EXPECT_FALSE(database_->Connected());
  EXPECT_EQ(Fake().CallsTo("isc_detach_database").at(0).args[0], handle);
  EXPECT_EQ(database_->DBSQLDialect(), 1);
  database_->Close();  // not attached: nothing happens
  EXPECT_EQ(Fake().CallsTo("isc_detach_database").size(), 1u);
}

TEST_F(Connection, DialectOneDatabaseLowersTheStatementDialect) {
  EXPECT_EQ(database_->DBSQLDialect(), 3);  // before the first attach
  Fake().dialect = 1;
  database_->Open();
  EXPECT_EQ(database_->DBSQLDialect(), 1);
  EXPECT_EQ(database_->SQLDialect(), 1);
  ExpectClientError([&] { database_->SetSQLDialect(3); }, 87, "SQL Dialect Inválido");
  database_->Close();
  database_->SetSQLDialect(3);
  ExpectClientError([&] { database_->SetSQLDialect(0); }, 87, "SQL Dialect Inválido");
  EXPECT_EQ(database_->SQLDialect(), 3);
}

TEST_F(Connection, AnswerWithoutTheDialectItemMeansDialectOne) {
  Fake().isc_database_info = [](ISC_STATUS* status, isc_db_handle*, short, const ISC_SCHAR*, short,
                                ISC_SCHAR* buffer) {
    buffer[0] = isc_info_end;
    return Fake().Ok(status);
  };
  database_->Open();
  EXPECT_EQ(database_->DBSQLDialect(), 1);
}

TEST_F(Connection, ChangesAreRefusedWhileAttached) {
  database_->Open();
  const std::string open = "Não posso executar essa operação -- DB está aberto";
  ExpectClientError([&] { database_->SetDatabaseName("localhost:/outro.fdb"); }, 16, open);
  ExpectClientError([&] { database_->AddParam("lc_ctype=WIN1252"); }, 16, open);
  ExpectClientError([&] { database_->SetParams({}); }, 16, open);
  ExpectClientError([&] { database_->ClearParams(); }, 16, open);
  database_->SetDatabaseName(kPath);  // the same name is no change
  EXPECT_EQ(database_->Params().size(), 2u);
}

TEST_F(Connection, OpenWithoutNameOrWithBadParamsAttachesNothing) {
  database_->Close();
  TIBDatabase unnamed;
  ExpectClientError([&] { unnamed.Open(); }, 17, "Database name não definido");
  database_->AddParam("Colour=blue");
  ExpectClientError([&] { database_->Open(); }, 114, "DPB Constant (Colour) é desconhecido");
  EXPECT_TRUE(Fake().CallsTo("isc_attach_database").empty());
}

TEST_F(Connection, ServerLinesAreJoinedWithoutTheClosingPeriod) {
  Fake().FailOn("isc_attach_database",
                {{kLoginFailed, 335544325},
                 {"Your user name and password are not defined.", "Ask your administrator."},
                 -902});
  try {
    database_->Open();
    ADD_FAILURE() << "attach did not fail";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Your user name and password are not defined.\r\nAsk your administrator");
    EXPECT_EQ(error.SqlCode(), -902);
    EXPECT_EQ(error.EngineCode(), kLoginFailed);
  }
  EXPECT_FALSE(database_->Connected());
  EXPECT_EQ(*database_->Handle(), 0u);
  // The DPB survives: the next attempt sends the same bytes.
  database_->Open();
  const auto attaches = Fake().CallsTo("isc_attach_database");
  ASSERT_EQ(attaches.size(), 2u);
  EXPECT_EQ(attaches[0].args[2], attaches[1].args[2]);
}

TEST_F(Connection, OnlyOnePeriodGoesAndLinesEndingInLineFeedGetNoSeparator) {
  Fake().FailOn("isc_attach_database", {{}, {"first\n", "second..", "third.."}, -902});
  try {
    database_->Open();
    ADD_FAILURE() << "attach did not fail";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()), "first\nsecond..\r\nthird.");
  }
}

TEST_F(Connection, SqlCodeMinus551GivesTheRoleError) {
  Fake().FailOn("isc_attach_database", {{335544352}, {"no permission for read access."}, -551});
  try {
    database_->Open();
    ADD_FAILURE() << "attach did not fail";
  } catch (const EIBInterBaseRoleError& error) {
    EXPECT_EQ(std::string(error.what()), "no permission for read access");
    EXPECT_EQ(error.SqlCode(), -551);
    EXPECT_EQ(error.EngineCode(), 335544352);
  }
}

TEST_F(Connection, MessageFlagsShapeTheText) {
  ClientLibrary::SetErrorMessages({true, true, true});
  Fake().FailOn("isc_attach_database", {{kLoginFailed}, {"line one."}, -902});
  try {
    database_->Open();
  } catch (const EIBError& error) {
    EXPECT_EQ(std::string(error.what()), "SQLCODE: -902\r\nline one");
  }
  ClientLibrary::SetErrorMessages({true, false, true});
  Fake().FailOn("isc_attach_database", {{kLoginFailed}, {"line one."}, -902});
  try {
    database_->Open();
  } catch (const EIBError& error) {
    EXPECT_EQ(std::string(error.what()), "SQLCODE: -902");
  }
  // The SQL message is never consulted.
  EXPECT_TRUE(Fake().CallsTo("isc_sql_interprete").empty());
}

TEST_F(Connection, LostConnectionClosesTheDatabaseBeforeRaising) {
  database_->Open();
  transaction_->Start();
  Fake().FailOn("isc_commit_transaction",
                {{kLostConnection, 335544721}, {"connection lost to database", "more"}, -901});
  const std::size_t before = Fake().calls.size();
  try {
    transaction_->Commit();
    ADD_FAILURE() << "commit did not fail";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()), "connection lost to database\r\nmore");
    EXPECT_EQ(error.EngineCode(), kLostConnection);
    // Closed by force before the error came out.
    EXPECT_FALSE(database_->Connected());
    EXPECT_FALSE(transaction_->Active());
  }
  const Names names = NamesSince(before);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "isc_commit_transaction");
  EXPECT_EQ(names.back(), "isc_detach_database");
}

TEST_F(Connection, LostConnectionFoundByAnyCallForTheDatabaseClosesIt) {
  database_->Open();
  // A statement checks the result of its own call through the database.
  Fake().FailOn("isc_dsql_alloc_statement2", {{kLostConnection}, {"connection lost"}, -901});
  isc_stmt_handle statement = 0;
  EXPECT_THROW(database_->CheckStatus(fbdetail::Api().isc_dsql_alloc_statement2(
                   fbdetail::StatusVector(), database_->Handle(), &statement)),
               EIBInterBaseError);
  EXPECT_FALSE(database_->Connected());
  EXPECT_NO_THROW(database_->CheckStatus(0));

  // Reading the dialect right after the attach is such a call too.
  Fake().FailOn("isc_database_info", {{kLostConnection}, {"connection lost"}, -901});
  EXPECT_THROW(database_->Open(), EIBInterBaseError);
  EXPECT_FALSE(database_->Connected());
  EXPECT_EQ(Fake().CallsTo("isc_detach_database").size(), 2u);
}

TEST_F(Connection, CloseCommitsTheActiveTransactionAfterTellingStatements) {
  RecordingDependent statement;
  database_->AddDependent(&statement);
  transaction_->AddDependent(&statement);
  database_->Open();
  transaction_->Start();
  const std::string transactionHandle = std::to_string(*transaction_->Handle());
  const std::size_t before = Fake().calls.size();
  database_->Close();
  EXPECT_EQ(NamesSince(before), (Names{"TransactionEnding", "isc_commit_transaction",
                                       "DatabaseClosing", "isc_detach_database"}));
  EXPECT_EQ(Fake().CallsTo("isc_commit_transaction").at(0).args[0], transactionHandle);
  EXPECT_FALSE(transaction_->Active());
  database_->RemoveDependent(&statement);
  transaction_->RemoveDependent(&statement);
}

TEST_F(Connection, CloseSwallowsAFailedCommitAndRollsBack) {
  database_->Open();
  transaction_->Start();
  Fake().FailOn("isc_commit_transaction", {{335544336}, {"deadlock"}, -913});
  const std::size_t before = Fake().calls.size();
  EXPECT_NO_THROW(database_->Close());
  EXPECT_EQ(NamesSince(before),
            (Names{"isc_commit_transaction", "isc_rollback_transaction", "isc_detach_database"}));
  EXPECT_FALSE(transaction_->Active());
  EXPECT_FALSE(database_->Connected());
}

TEST_F(Connection, CloseUsesEachTransactionsDefaultAction) {
  database_->Open();
  transaction_->SetDefaultAction(TARollbackRetaining);
  transaction_->Start();
  const std::size_t before = Fake().calls.size();
  database_->Close();
  EXPECT_EQ(NamesSince(before), (Names{"isc_rollback_transaction", "isc_detach_database"}));
}

TEST_F(Connection, FailedDetachKeepsTheDatabaseOpenUnlessForced) {
  database_->Open();
  Fake().FailOn("isc_detach_database", {{335544328}, {"invalid handle"}, -904});
  EXPECT_THROW(database_->Close(), EIBInterBaseError);
  EXPECT_TRUE(database_->Connected());
  Fake().FailOn("isc_detach_database", {{335544328}, {"invalid handle"}, -904});
  EXPECT_NO_THROW(database_->ForceClose());
  EXPECT_FALSE(database_->Connected());
}

TEST_F(Connection, DestroyingAnOpenDatabaseDetachesAndUnregisters) {
  database_->Open();
  transaction_->Start();
  database_.reset();
  EXPECT_EQ(Fake().CallsTo("isc_commit_transaction").size(), 1u);
  EXPECT_EQ(Fake().CallsTo("isc_detach_database").size(), 1u);
  EXPECT_TRUE(transaction_->Databases().empty());
  EXPECT_EQ(transaction_->DefaultDatabase(), nullptr);
}

TEST_F(Connection, DefaultTransactionAndDatabaseRegisterBothWays) {
  EXPECT_EQ(database_->Transactions(), std::vector<TIBTransaction*>{transaction_.get()});
  EXPECT_EQ(transaction_->Databases(), std::vector<TIBDatabase*>{database_.get()});
  TIBTransaction other;
  database_->SetDefaultTransaction(&other);
  EXPECT_EQ(other.Databases(), std::vector<TIBDatabase*>{database_.get()});
  EXPECT_EQ(database_->Transactions().size(), 2u);
  transaction_.reset();
  EXPECT_EQ(database_->Transactions(), std::vector<TIBTransaction*>{&other});
  EXPECT_EQ(database_->DefaultTransaction(), &other);
}

TEST_F(Connection, StartSendsOneEntryPerDatabaseWithTheTpb) {
  TIBDatabase second;
  second.SetParams({"user_name=sysdba", "password=lumenrock"});
  second.SetDatabaseName("localhost:/dados/OUTRO.FDB");
  database_->Open();
  second.Open();
  transaction_->AddDatabase(&second);
  transaction_->SetParams({"write", "concurrency", "wait"});
  transaction_->Start();
  EXPECT_TRUE(transaction_->Active());
  const auto starts = Fake().CallsTo("isc_start_multiple");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].args, (std::vector<std::string>{
                                "0", "2", std::to_string(*database_->Handle()), Bytes({3, 9, 2, 6}),
                                std::to_string(*second.Handle()), Bytes({3, 9, 2, 6})}));
  transaction_->Commit();
  EXPECT_FALSE(transaction_->Active());
}

TEST_F(Connection, EmptyParamsStartTheServersDefaultTransaction) {
  database_->Open();
  transaction_->Start();
  const auto start = Fake().CallsTo("isc_start_multiple").at(0);
  EXPECT_EQ(start.args[1], "1");
  EXPECT_EQ(start.args[3], "");
}

TEST_F(Connection, TransactionChecksHaveTheirIndexes) {
  TIBTransaction lonely;
  ExpectClientError([&] { lonely.Start(); }, 21,
                    "Nenhum banco de dados está listado no componente de transação");
  ExpectClientError([&] { transaction_->Start(); }, 15,
                    "Não posso executar essa operação -- DB não está aberto");
  ExpectClientError([&] { transaction_->Commit(); }, 18, "Transação não está ativa");
  ExpectClientError([&] { transaction_->Rollback(); }, 18, "Transação não está ativa");
  ExpectClientError([&] { transaction_->CommitRetaining(); }, 18, "Transação não está ativa");
  database_->Open();
  transaction_->Start();
  ExpectClientError([&] { transaction_->Start(); }, 19, "Transação está ativa");
  ExpectClientError([&] { transaction_->AddParam("read"); }, 19, "Transação está ativa");
  ExpectClientError([&] { transaction_->SetParams({}); }, 19, "Transação está ativa");
  EXPECT_EQ(Fake().CallsTo("isc_start_multiple").size(), 1u);
}

TEST_F(Connection, FailuresLeaveTheTransactionAsItWas) {
  database_->Open();
  Fake().FailOn("isc_start_multiple", {{335544336}, {"deadlock"}, -913});
  EXPECT_THROW(transaction_->Start(), EIBInterBaseError);
  EXPECT_FALSE(transaction_->Active());
  transaction_->Start();
  Fake().FailOn("isc_commit_transaction", {{335544336}, {"deadlock"}, -913});
  EXPECT_THROW(transaction_->Commit(), EIBInterBaseError);
  EXPECT_TRUE(transaction_->Active());
  Fake().FailOn("isc_rollback_transaction", {{335544336}, {"deadlock"}, -913});
  EXPECT_THROW(transaction_->Rollback(), EIBInterBaseError);
  EXPECT_TRUE(transaction_->Active());
  transaction_->Rollback();
  EXPECT_FALSE(transaction_->Active());
}

TEST_F(Connection, RetainingKeepsTheTransactionAndItsStatements) {
  RecordingDependent statement;
  transaction_->AddDependent(&statement);
  database_->Open();
  transaction_->Start();
  const unsigned int handle = *transaction_->Handle();
  const std::size_t before = Fake().calls.size();
  transaction_->CommitRetaining();
  transaction_->RollbackRetaining();
  EXPECT_EQ(NamesSince(before), (Names{"isc_commit_retaining", "isc_rollback_retaining"}));
  EXPECT_EQ(*transaction_->Handle(), handle);
  transaction_->SetActive(false);  // rolls back
  EXPECT_EQ(NamesSince(before).back(), "isc_rollback_transaction");
  transaction_->RemoveDependent(&statement);
}

TEST_F(Connection, DestroyingAnActiveTransactionEndsItByItsDefaultAction) {
  database_->Open();
  transaction_->Start();
  transaction_.reset();
  EXPECT_EQ(Fake().CallsTo("isc_commit_transaction").size(), 1u);
  EXPECT_TRUE(database_->Transactions().empty());
  EXPECT_EQ(database_->DefaultTransaction(), nullptr);

  auto rolledBack = std::make_unique<TIBTransaction>();
  rolledBack->SetDefaultDatabase(database_.get());
  rolledBack->SetDefaultAction(TARollback);
  rolledBack->Start();
  rolledBack.reset();
  EXPECT_EQ(Fake().CallsTo("isc_rollback_transaction").size(), 1u);
  EXPECT_EQ(Fake().CallsTo("isc_commit_transaction").size(), 1u);
}

}  // namespace

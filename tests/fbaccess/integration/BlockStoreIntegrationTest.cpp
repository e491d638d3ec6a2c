// Rows stored by compiled requests against the real local server: every
// value of every type a message carries goes in as the same rows inserted
// by a statement with parameters, nulls and long UTF-8 text included; a
// block the server refuses leaves none of its rows, and the request serves
// again after it and after the attachment is closed and opened again; a
// block sent in flight is settled at Wait, or before the store goes.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fbaccess/TIBBlockStore.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"

namespace {

using testsupport::FixtureDatabase;
using testsupport::TestFolder;

std::string Table(const std::string& name) {
  return "create table " + name +
         " (ID integer not null primary key, S varchar(300) character set utf8,"
         " C char(5) character set win1252, SI smallint, B bigint, D double precision,"
         " N numeric(15,2), N6 numeric(18,6), DT date, TM time, TS timestamp, BO boolean);\n";
}

const char* const kRow =
    "insert into ORIGEM values (:i, iif(mod(:i, 4) = 0, null, lpad(_utf8 '', mod(:i, 300), _utf8 "
    "'ção€')),"
    " iif(mod(:i, 5) = 0, null, 'é' || mod(:i, 9)), mod(:i, 30000) - 15000, :i * 1000000007,"
    " :i / 7.0e0, iif(mod(:i, 6) = 0, null, :i * 1.25 - 300), :i / 1024.0,"
    " dateadd(:i day to date '1999-12-25'), dateadd(:i second to time '00:00:00.0001'),"
    " dateadd(:i * 7 second to timestamp '2020-02-29 23:59:00.1234'), mod(:i, 2) = 0)";

class BlockStoreIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_ = std::make_unique<FixtureDatabase>(FixtureDatabase::Create(
        folder_.File("B.FDB"), Table("ORIGEM") + Table("PEDIDO") + Table("CONSULTA") +
                                   "create table COM_BLOB (ID integer, M blob sub_type text);\n" +
                                   "commit;\n" + FixtureDatabase::FillScript(kRow, kRows)));
    database_.SetDefaultTransaction(&transaction_);
    transaction_.SetDefaultDatabase(&database_);
    database_.AddParam("user_name=sysdba");
    database_.AddParam("password=lumenrock");
    database_.SetLoginPrompt(false);
    database_.SetDatabaseName("localhost:" + fixture_->Path());
    database_.Open();
    // The rows as the access layer reads them, with the types it reads.
    TIBQuery select;
    select.SetDatabase(&database_);
    select.SQL().SetText("select * from ORIGEM order by ID");
    select.Open();
    for (int c = 0; c < select.FieldCount(); ++c) {
      columns_.push_back(select.Fields(c).Name());
      types_.push_back(select.FieldDefs()[std::size_t(c)].DataType);
    }
    while (!select.AtEnd()) {
      std::vector<TValue> row;
      for (int c = 0; c < select.FieldCount(); ++c) {
        row.push_back(select.Fields(c).IsNull() ? TValue() : select.Fields(c).Value());
      }
      rows_.push_back(row);
      select.Next();
    }
    select.Close();
  }

  std::unique_ptr<TIBBlockStore> Store(const std::string& table) {
    return std::make_unique<TIBBlockStore>(database_, transaction_, table, columns_, types_);
  }

  static constexpr int kRows = 500;
  TestFolder folder_{"tessarine-blockstore"};
  std::unique_ptr<FixtureDatabase> fixture_;
  TIBDatabase database_;
  TIBTransaction transaction_;
  std::vector<std::string> columns_;
  std::vector<TFieldType> types_;
  std::vector<std::vector<TValue>> rows_;
};

TEST_F(BlockStoreIntegration, EveryValueGoesInAsAStatementWithParametersPutsIt) {
  ASSERT_EQ(rows_.size(), std::size_t(kRows));
  const std::unique_ptr<TIBBlockStore> store = Store("PEDIDO");
  ASSERT_TRUE(store->Usable());
  // 1.2 KB of text a row: blocks far above 16 rows, far below 240.
  ASSERT_GT(store->MaxRows(), 16u);
  ASSERT_LT(store->MaxRows(), 100u);
  // Blocks of several sizes, the last one short.
  std::size_t first = 0;
  for (std::size_t size = 2; first < rows_.size(); size = std::min(size * 8, store->MaxRows())) {
    const std::size_t rows = std::min(size, rows_.size() - first);
    store->Store(std::span(rows_).subspan(first, rows));
    first += rows;
  }
  ASSERT_EQ(first, rows_.size());
  TIBQuery insert;
  insert.SetDatabase(&database_);
  std::string names;
  std::string markers;
  for (std::size_t c = 0; c < columns_.size(); ++c) {
    names += (c == 0 ? "" : ", ") + columns_[c];
    markers += (c == 0 ? ":" : ", :") + columns_[c];
  }
  insert.SQL().SetText("insert into CONSULTA (" + names + ") values (" + markers + ")");
  insert.Prepare();
  for (const std::vector<TValue>& row : rows_) {
    for (std::size_t c = 0; c < columns_.size(); ++c) {
      insert.Params()[c].SetDataType(types_[c]);
      insert.Params()[c].SetValue(row[c]);
    }
    insert.ExecQuery();
  }
  transaction_.Commit();
  const std::string all = std::to_string(kRows);
  EXPECT_EQ(fixture_->Value("select count(*) from PEDIDO"), all);
  EXPECT_EQ(fixture_->Value("select count(*) from (select * from PEDIDO union select * from "
                            "ORIGEM)"),
            all);
  EXPECT_EQ(fixture_->Value("select count(*) from (select * from PEDIDO union select * from "
                            "CONSULTA)"),
            all);
  EXPECT_EQ(fixture_->Value("select count(*) from PEDIDO where S is null"),
            fixture_->Value("select count(*) from ORIGEM where S is null"));
  EXPECT_EQ(fixture_->Value("select max(char_length(S)) from PEDIDO"), "299");
}

TEST_F(BlockStoreIntegration, ARefusedBlockLeavesNoneOfItsRowsAndTheRequestServesAgain) {
  const std::unique_ptr<TIBBlockStore> store = Store("PEDIDO");
  ASSERT_TRUE(store->Usable());
  store->Store(std::span(rows_).subspan(0, 10));
  // Rows 10 to 29 with row 5 again in their middle.
  std::vector<std::vector<TValue>> block(rows_.begin() + 10, rows_.begin() + 30);
  block[12] = rows_[5];
  try {
    store->Store(block);
    FAIL() << "a block with a key already in went in";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("PRIMARY or UNIQUE KEY"), std::string::npos) << e.what();
  }
  // The attachment goes and comes back: the request is compiled again.
  transaction_.Commit();
  database_.Close();
  database_.Open();
  store->Store(std::span(rows_).subspan(10, 20));
  transaction_.Commit();
  EXPECT_EQ(fixture_->Value("select count(*) from PEDIDO"), "30");
  EXPECT_EQ(fixture_->Value("select count(*) from PEDIDO where ID <= 30"), "30");
}

// The next block is converted while the last is in flight; a refusal comes
// at Wait; a block still in flight when the store goes is stored all the
// same, before the store is gone.
TEST_F(BlockStoreIntegration, BlocksInFlightAreSettledAtWaitAndBeforeTheStoreGoes) {
  {
    const std::unique_ptr<TIBBlockStore> store = Store("PEDIDO");
    ASSERT_TRUE(store->Usable());
    store->Encode(std::span(rows_).subspan(0, 16));
    store->Send();
    EXPECT_TRUE(store->InFlight());
    std::vector<std::vector<TValue>> block(rows_.begin() + 16, rows_.begin() + 32);
    block[3] = rows_[2];
    store->Encode(block);
    store->Wait();
    EXPECT_FALSE(store->InFlight());
    store->Send();
    EXPECT_THROW(store->Wait(), std::exception);
    store->Encode(std::span(rows_).subspan(16, 16));
    store->Send();
  }
  transaction_.Commit();
  EXPECT_EQ(fixture_->Value("select count(*) from PEDIDO"), "32");
}

TEST_F(BlockStoreIntegration, ATableWithABlobIsLeftToStatements) {
  const TIBBlockStore store(database_, transaction_, "COM_BLOB", {"ID", "M"},
                            {TFieldType::Integer, TFieldType::Memo});
  EXPECT_FALSE(store.Usable());
  EXPECT_EQ(store.MaxRows(), 0u);
  transaction_.Rollback();
}

}  // namespace

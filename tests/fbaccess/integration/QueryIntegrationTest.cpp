// Statements against the real local server: a select walked row by row,
// parameters of every supported type, blobs beyond one 16384-byte piece,
// dates and times through typed and text parameters, arrays read and written
// whole but never as fields,
// the server's text for a failing statement, execution after a commit, and
// an execute block's parameters.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"

namespace {

using testsupport::FixtureDatabase;
using testsupport::TestFolder;

const char* const kSchema =
    "create table PESSOA (ID integer not null primary key, NOME varchar(30));"
    "insert into PESSOA values (1, 'Ana');"
    "insert into PESSOA values (2, null);"
    "insert into PESSOA values (3, 'Caio');"
    "create table TIPOS (K integer, S varchar(20), C char(5), SI smallint, I integer,"
    " B bigint, D double precision, N numeric(15,2), DT date, TM time, TS timestamp,"
    " MEMO blob sub_type 1, BIN blob sub_type 0, BO boolean, X integer);"
    "create table GRADE (ID integer, VALORES integer [1:3], NOME varchar(10));"
    "create table MATRIZ (ID integer, TEXTOS varchar(4) [0:1, 1:2] character set octets);";

class QueryIntegration : public ::testing::Test {
 protected:
  void SetUp() override {
    fixture_ =
        std::make_unique<FixtureDatabase>(FixtureDatabase::Create(folder_.File("Q.FDB"), kSchema));
    database_.SetDefaultTransaction(&transaction_);
    transaction_.SetDefaultDatabase(&database_);
    database_.AddParam("user_name=sysdba");
    database_.AddParam("password=lumenrock");
    database_.SetLoginPrompt(false);
    database_.SetDatabaseName("localhost:" + fixture_->Path());
    query_.SetDatabase(&database_);
  }

  TestFolder folder_{"tessarine-query"};
  std::unique_ptr<FixtureDatabase> fixture_;
  TIBDatabase database_;
  TIBTransaction transaction_;
  TIBQuery query_;
};

TEST_F(QueryIntegration, SelectWalkedRowByRow) {
  query_.SQL().Clear();
  query_.SQL().Add("select ID, NOME as \"Nome\"");
  query_.SQL().Add("from PESSOA order by ID");
  query_.Open();
  EXPECT_EQ(query_.RowCount(), 1);
  ASSERT_EQ(query_.FieldDefs().size(), 2u);
  EXPECT_EQ(query_.FieldDefs()[1].Name, "Nome");
  std::vector<std::string> seen;
  while (!query_.AtEnd()) {
    seen.push_back(query_.FieldNamed("id").AsString() + ":" + query_.FieldNamed("NOME").AsString() +
                   (query_.FieldNamed("nome").IsNull() ? "(null)" : ""));
    query_.Next();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"1:Ana", "2:(null)", "3:Caio"}));
  EXPECT_EQ(query_.RowCount(), 3);
  EXPECT_EQ(query_.FieldNamed("ID").Value(), TValue(3));
  query_.Close();

  query_.SQL().SetText("select ID from PESSOA where ID > :ID");
  query_.ParamNamed("ID").SetValue(3);
  query_.Open();
  EXPECT_TRUE(query_.AtEnd());
  EXPECT_EQ(query_.RowCount(), 0);
  query_.Close();
  query_.ParamNamed("ID").SetValue(2);
  query_.Open();
  EXPECT_FALSE(query_.AtEnd());
  query_.Next();
  EXPECT_TRUE(query_.AtEnd());
  EXPECT_EQ(query_.RowCount(), 1);
}

TEST_F(QueryIntegration, InsertWithEveryParameterTypeAndReadBack) {
  const std::string memo(40000, 'm');
  const TBytes bin = [] {
    TBytes b(70000);
    for (std::size_t i = 0; i < b.size(); ++i) {
      b[i] = static_cast<std::uint8_t>(i * 7);
    }
    return b;
  }();
  query_.SQL().SetText(
      "insert into TIPOS (K, S, C, SI, I, B, D, N, DT, TM, TS, MEMO, BIN, BO, X)\r\n"
      "values (:K, :S, :C, :SI, :I, :B, :D, :N, :DT, :TM, :TS, :MEMO, :BIN, :BO, :X);");
  query_.Prepare();
  query_.ParamNamed("K").SetValue(1);
  query_.ParamNamed("S").SetValue("olá mundo");
  query_.ParamNamed("C").SetValue("ab");
  query_.ParamNamed("SI").SetValue(std::int16_t{-7});
  query_.ParamNamed("I").SetValue(123456);
  query_.ParamNamed("B").SetValue(std::int64_t{9000000000});
  query_.ParamNamed("D").SetValue(2.5);
  query_.ParamNamed("N").SetValue(TDecimal{123456789});  // 12345.6789 -> 12345.68
  query_.ParamNamed("DT").SetValue(TDate{2024, 2, 29});
  query_.ParamNamed("TM").SetValue(TTime{23, 59, 58, 1234});
  query_.ParamNamed("TS").SetValue(TDateTime{{1999, 12, 31}, {12, 30, 0, 0}});
  query_.ParamNamed("MEMO").SetValue(memo);
  query_.ParamNamed("BIN").SetValue(bin);
  query_.ParamNamed("BO").SetValue(true);
  query_.ParamNamed("X").SetValue(TValue());
  query_.ExecQuery();
  transaction_.Commit();

  query_.SQL().SetText("select * from TIPOS where K = 1");
  query_.Open();
  ASSERT_FALSE(query_.AtEnd());
  EXPECT_EQ(query_.FieldNamed("S").AsString(), "olá mundo");
  EXPECT_EQ(query_.FieldNamed("C").AsString(), "ab   ");  // CHAR keeps its blanks
  EXPECT_EQ(query_.FieldNamed("SI").Value(), TValue(std::int16_t{-7}));
  EXPECT_EQ(query_.FieldNamed("I").Value(), TValue(123456));
  EXPECT_EQ(query_.FieldNamed("B").AsString(), "9000000000");
  EXPECT_EQ(query_.FieldNamed("D").Value(), TValue(2.5));
  EXPECT_EQ(query_.FieldNamed("N").Value(), TValue(TDecimal{123456800}));
  EXPECT_EQ(query_.FieldNamed("N").AsString(), "12345.68");
  EXPECT_EQ(query_.FieldNamed("DT").AsString(), "2024-02-29");
  EXPECT_EQ(query_.FieldNamed("TM").Value(), TValue(TTime{23, 59, 58, 1234}));
  EXPECT_EQ(query_.FieldNamed("TS").AsString(), "1999-12-31 12:30:00");
  EXPECT_EQ(query_.FieldNamed("MEMO").AsString(), memo);
  EXPECT_EQ(query_.FieldNamed("BIN").Value(), TValue(bin));
  EXPECT_EQ(query_.FieldNamed("BO").Value(), TValue(true));
  EXPECT_TRUE(query_.FieldNamed("X").IsNull());
  EXPECT_EQ(query_.FieldNamed("X").AsString(), "");
}

TEST_F(QueryIntegration, DatesAndTimesRoundTripThroughTextParameters) {
  query_.SQL().SetText("insert into TIPOS (K, DT, TM, TS) values (:K, :DT, :TM, :TS)");
  query_.ParamNamed("K").SetValue(1);
  query_.ParamNamed("DT").SetValue(TDate{1900, 1, 1});
  query_.ParamNamed("TM").SetValue(TTime{0, 0, 1, 0});
  query_.ParamNamed("TS").SetValue(TDateTime{{2038, 1, 19}, {3, 14, 8, 5}});
  query_.ExecQuery();

  query_.SQL().SetText("select DT, TM, TS from TIPOS where K = 1");
  query_.Open();
  const std::string dt = query_.FieldNamed("DT").AsString();
  const std::string tm = query_.FieldNamed("TM").AsString();
  const std::string ts = query_.FieldNamed("TS").AsString();
  EXPECT_EQ(dt, "1900-01-01");
  EXPECT_EQ(tm, "00:00:01");
  EXPECT_EQ(ts, "2038-01-19 03:14:08.0005");
  query_.Close();

  // The texts go back in as text parameters and come out the same.
  query_.SQL().SetText("insert into TIPOS (K, DT, TM, TS) values (2, :DT, :TM, :TS)");
  query_.ParamNamed("DT").SetValue(dt);
  query_.ParamNamed("TM").SetValue(tm);
  query_.ParamNamed("TS").SetValue(ts);
  query_.ExecQuery();
  query_.SQL().SetText("select DT, TM, TS from TIPOS where K = 2");
  query_.Open();
  EXPECT_EQ(query_.FieldNamed("DT").AsString(), dt);
  EXPECT_EQ(query_.FieldNamed("TM").AsString(), tm);
  EXPECT_EQ(query_.FieldNamed("TS").AsString(), ts);
}

TEST_F(QueryIntegration, ArrayColumnIsNotExposed) {
  query_.SQL().SetText("select * from GRADE");
  query_.Open();
  EXPECT_TRUE(query_.AtEnd());
  ASSERT_EQ(query_.FieldCount(), 2);
  EXPECT_EQ(query_.FieldDefs()[0].Name, "ID");
  EXPECT_EQ(query_.FieldDefs()[1].Name, "NOME");
  EXPECT_THROW(query_.FieldNamed("VALORES"), EDatabaseError);
}

// An array is written and read whole, in the client's slice layout, and the
// server sees each element where that layout puts it.
TEST_F(QueryIntegration, ArraysAreWrittenAndReadWhole) {
  const auto ints = [](std::initializer_list<std::int32_t> values) {
    TBytes bytes;
    for (const std::int32_t value : values) {
      const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
      bytes.insert(bytes.end(), p, p + sizeof value);
    }
    return bytes;
  };
  // varchar(4) elements, as the client lays them out: the text ended by a
  // zero byte, in 4 + 2 bytes.
  TBytes texts;
  for (const std::string text : {"a", "bb", "ccc", "dddd"}) {
    std::string padded = text;
    padded.resize(6, '\0');
    texts.insert(texts.end(), padded.begin(), padded.end());
  }
  query_.SQL().SetText("insert into GRADE (ID, VALORES) values (1, :VALORES)");
  query_.ParamNamed("VALORES").SetValue(ints({7, -8, 9}));
  query_.ExecQuery();
  query_.SQL().SetText("insert into MATRIZ (ID, TEXTOS) values (1, :TEXTOS)");
  query_.ParamNamed("TEXTOS").SetValue(texts);
  query_.ExecQuery();
  transaction_.Commit();

  query_.SQL().SetText("select VALORES, VALORES[2] as SEGUNDO from GRADE");
  query_.Open();
  EXPECT_EQ(query_.ArrayNamed("VALORES").AsBytes(), ints({7, -8, 9}));
  EXPECT_EQ(query_.FieldNamed("SEGUNDO").AsString(), "-8");
  query_.SQL().SetText("select TEXTOS, TEXTOS[0, 2] as B, TEXTOS[1, 2] as D from MATRIZ");
  query_.Open();
  const TValue copied = query_.ArrayNamed("TEXTOS");
  EXPECT_EQ(copied.AsBytes(), texts);
  EXPECT_EQ(query_.FieldNamed("B").AsString(), "bb");
  EXPECT_EQ(query_.FieldNamed("D").AsString(), "dddd");

  // Copied into another row and read back from there.
  query_.SQL().SetText("insert into MATRIZ (ID, TEXTOS) values (2, :TEXTOS)");
  query_.ParamNamed("TEXTOS").SetValue(copied);
  query_.ExecQuery();
  query_.SQL().SetText("insert into MATRIZ (ID, TEXTOS) values (3, :TEXTOS)");
  query_.ParamNamed("TEXTOS").SetValue(TValue());
  query_.ExecQuery();
  query_.SQL().SetText("select ID, TEXTOS, TEXTOS[1, 1] as C from MATRIZ where ID > 1 order by ID");
  query_.Open();
  EXPECT_EQ(query_.ArrayNamed("TEXTOS").AsBytes(), texts);
  EXPECT_EQ(query_.FieldNamed("C").AsString(), "ccc");
  query_.Next();
  EXPECT_TRUE(query_.ArrayNamed("TEXTOS").IsNull());
}

TEST_F(QueryIntegration, FailingStatementCarriesTheServerText) {
  query_.SQL().SetText("select * from NAO_EXISTE");
  try {
    query_.Open();
    ADD_FAILURE() << "no error";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Dynamic SQL Error\r\nSQL error code = -204\r\nTable unknown\r\nNAO_EXISTE\r\n"
              "At line 1, column 15");
    EXPECT_EQ(error.SqlCode(), -204);
  }
  EXPECT_FALSE(query_.Prepared());

  query_.SQL().SetText("insert into PESSOA (ID) values (:ID)");
  query_.ParamNamed("ID").SetValue(1);
  try {
    query_.ExecQuery();
    ADD_FAILURE() << "no error";
  } catch (const EIBInterBaseError& error) {
    EXPECT_NE(std::string(error.what()).find("violation of PRIMARY or UNIQUE KEY constraint"),
              std::string::npos);
  }
  // The statement stays prepared and the transaction active.
  EXPECT_TRUE(query_.Prepared());
  EXPECT_TRUE(transaction_.Active());
}

// The server gets the block's code as written: ":A" and ":k" there are the
// block's own, its declarations' markers take the values.
TEST_F(QueryIntegration, ExecuteBlockTakesItsDeclaredParametersAndKeepsItsVariables) {
  query_.SQL().SetText(
      "execute block (A integer = ?, B varchar(10) = :NOME) returns (S varchar(40)) as\n"
      "declare k integer; begin k = :A * 2; S = :B || ':' || :k; suspend; end");
  ASSERT_EQ(query_.ParamCount(), 2);
  query_.ParamNamed("A").SetValue(21);
  query_.ParamNamed("NOME").SetValue("Ana");
  query_.Open();
  EXPECT_EQ(query_.FieldNamed("S").AsString(), "Ana:42");
  query_.Close();
}

TEST_F(QueryIntegration, CommitAfterExecQueryThenExecQueryAgain) {
  query_.SQL().SetText("insert into PESSOA (ID, NOME) values (:ID, :NOME)");
  query_.ParamNamed("ID").SetValue(10);
  query_.ParamNamed("NOME").SetValue("Dez");
  query_.ExecQuery();
  transaction_.Commit();
  EXPECT_FALSE(query_.Prepared());
  query_.ParamNamed("ID").SetValue(11);
  query_.ExecQuery();
  transaction_.Commit();
  EXPECT_EQ(fixture_->Count("PESSOA"), 5);
  EXPECT_EQ(fixture_->Value("select NOME from PESSOA where ID = 11"), "Dez");
}

}  // namespace

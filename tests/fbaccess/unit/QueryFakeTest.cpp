// TIBQuery over the fake client: the calls a statement makes, byte for byte,
// the statement-type answer, the cursor's end, the parameters as written into
// the input descriptor, and the carry-over of parameters across texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EDatabaseError.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/EIBInterBaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"

namespace {

struct Column {
  short type;
  short len;
  std::string name;
  short scale = 0;
  short subtype = 0;
  std::string relation = std::string();
};

void Fill(XSQLDA* d, const std::vector<Column>& cols) {
  d->sqld = static_cast<short>(cols.size());
  for (int i = 0; i < std::min<int>(d->sqln, d->sqld); ++i) {
    XSQLVAR& v = d->sqlvar[i];
    const Column& c = cols[static_cast<std::size_t>(i)];
    v.sqltype = static_cast<short>(c.type | 1);
    v.sqllen = c.len;
    v.sqlscale = c.scale;
    v.sqlsubtype = c.subtype;
    v.sqlname_length = v.aliasname_length = static_cast<short>(c.name.size());
    std::memcpy(v.sqlname, c.name.data(), c.name.size());
    std::memcpy(v.aliasname, c.name.data(), c.name.size());
    v.relname_length = static_cast<short>(c.relation.size());
    std::memcpy(v.relname, c.relation.data(), c.relation.size());
  }
}

void DescribeColumns(const std::vector<Column>& cols) {
  Fake().isc_dsql_describe = [cols](ISC_STATUS* s, isc_stmt_handle*, unsigned short, XSQLDA* d) {
    Fill(d, cols);
    return Fake().Ok(s);
  };
}

void DescribeParams(const std::vector<Column>& cols) {
  Fake().isc_dsql_describe_bind = [cols](ISC_STATUS* s, isc_stmt_handle*, unsigned short,
                                         XSQLDA* d) {
    Fill(d, cols);
    return Fake().Ok(s);
  };
}

// Rows of (INTEGER ID, VARCHAR(10) NAME): ID = row number, NAME = "n<ID>".
void FetchRows(int rows) {
  Fake().isc_dsql_fetch = [rows, next = 0](ISC_STATUS* s, isc_stmt_handle*, unsigned short,
                                           const XSQLDA* d) mutable -> ISC_STATUS {
    if (Fake().TakeFailure("isc_dsql_fetch", s)) {
      return s[1];  // a failure queued with FailOn comes first
    }
    if (next == rows) {
      Fake().Ok(s);
      return 100;
    }
    const std::int32_t id = next++;
    std::memcpy(d->sqlvar[0].sqldata, &id, 4);
    *d->sqlvar[0].sqlind = 0;
    const std::string name = "n" + std::to_string(id);
    const std::uint16_t len = static_cast<std::uint16_t>(name.size());
    std::memcpy(d->sqlvar[1].sqldata, &len, 2);
    std::memcpy(d->sqlvar[1].sqldata + 2, name.data(), name.size());
    *d->sqlvar[1].sqlind = id % 2 == 1 ? -1 : 0;  // odd rows: NAME is null
    return Fake().Ok(s);
  };
}

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

template <typename F>
void ExpectDatabaseError(F call, const std::string& message) {
  try {
    call();
    ADD_FAILURE() << "expected " << message;
  } catch (const EDatabaseError& error) {
    EXPECT_EQ(std::string(error.what()), message);
  }
}

// Names the fake client before the fixture's objects bind the library, whatever
// the order in which the program's static initialisers ran.
struct FakeClientNamed {
  FakeClientNamed() { ClientLibrary::UseLibraryFile(FAKE_CLIENT_LIBRARY); }
};

class QueryFake : public ::testing::Test, private FakeClientNamed {
 protected:
  void SetUp() override {
    Fake().Reset();
    db.SetDatabaseName("localhost:/dados/T.FDB");
    db.SetLoginPrompt(false);
    db.AddParam("user_name=sysdba");
    db.AddParam("password=lumenrock");
    tr.SetDefaultDatabase(&db);
    db.SetDefaultTransaction(&tr);
    q.SetDatabase(&db);
  }

  // Names of the statement calls only (attach and start left out).
  static std::vector<std::string> StatementCalls() {
    std::vector<std::string> names;
    for (const std::string& n : Fake().Names()) {
      if (n.rfind("isc_dsql_", 0) == 0) {
        names.push_back(n);
      }
    }
    return names;
  }

  void SelectIdName() {
    DescribeColumns({{SQL_LONG, 4, "ID"}, {SQL_VARYING, 10, "NAME"}});
    q.SQL().SetText("select ID, NAME from T");
  }

  TIBDatabase db;
  TIBTransaction tr;
  TIBQuery q;
};

TEST_F(QueryFake, PrepareAsksTheStatementTypeAndDescribes) {
  DescribeColumns({{SQL_LONG, 4, "ID"}, {SQL_ARRAY, 8, "GRID"}, {SQL_VARYING, 10, "NAME"}});
  q.SQL().Add("select *");
  q.SQL().Add("from T where ID = :ID");
  q.Prepare();

  EXPECT_EQ(StatementCalls(),
            (std::vector<std::string>{"isc_dsql_alloc_statement2", "isc_dsql_prepare",
                                      "isc_dsql_sql_info", "isc_dsql_describe_bind",
                                      "isc_dsql_describe", "isc_dsql_describe"}));
  const FakeCall prepare = Fake().CallsTo("isc_dsql_prepare").at(0);
  EXPECT_EQ(prepare.args.at(2), "select *\r\nfrom T where ID = ?\r\n");
  EXPECT_EQ(prepare.args.at(3), "3");
  EXPECT_EQ(prepare.args.at(4), "null");
  const FakeCall info = Fake().CallsTo("isc_dsql_sql_info").at(0);
  EXPECT_EQ(info.args.at(1), Bytes({21}));
  EXPECT_EQ(info.args.at(2), "8");
  // One entry first, then as many as the server reported.
  const auto describes = Fake().CallsTo("isc_dsql_describe");
  EXPECT_EQ(describes.at(0).args.at(2).substr(0, 23), "version=1 sqln=1 sqld=1");
  EXPECT_EQ(describes.at(1).args.at(2).substr(0, 23), "version=1 sqln=3 sqld=3");

  // The array column is not exposed.
  ASSERT_EQ(q.FieldDefs().size(), 2u);
  EXPECT_EQ(q.FieldDefs()[0].Name, "ID");
  EXPECT_EQ(q.FieldDefs()[0].DataType, TFieldType::Integer);
  EXPECT_EQ(q.FieldDefs()[1].Name, "NAME");
  EXPECT_EQ(q.FieldDefs()[1].Size, 10);
  EXPECT_EQ(q.FieldCount(), 2);
}

TEST_F(QueryFake, StatementTypeAnswerWithoutItemIsAnUnknownError) {
  Fake().isc_dsql_sql_info = [](ISC_STATUS* s, isc_stmt_handle*, short, const ISC_SCHAR*, short,
                                ISC_SCHAR* buffer) {
    buffer[0] = isc_info_end;
    return Fake().Ok(s);
  };
  q.SQL().SetText("select 1 from RDB$DATABASE");
  ExpectClientError([&] { q.Prepare(); }, 0, "Erro desconhecido");
  EXPECT_FALSE(q.Prepared());
  EXPECT_EQ(Fake().CallsTo("isc_dsql_free_statement").back().args.at(1), "2");
}

TEST_F(QueryFake, SegmentAndTransactionStatementsAreNotAllowed) {
  for (const int type : {6, 7, 9}) {
    Fake().Reset();
    Fake().statementType = type;
    q.SQL().SetText("set transaction");
    ExpectClientError([&] { q.Prepare(); }, 5, "Não permitida");
    EXPECT_FALSE(q.Prepared());
    ASSERT_FALSE(Fake().CallsTo("isc_dsql_free_statement").empty());
    EXPECT_EQ(Fake().CallsTo("isc_dsql_free_statement").back().args.at(1), "2");
  }
  // Any other type is accepted, read through isc_vax_integer as a 4-byte value.
  Fake().Reset();
  Fake().statementType = 0x0102;
  q.SQL().SetText("something new");
  q.Prepare();
  EXPECT_EQ(q.StatementType(), 0x0102);
}

TEST_F(QueryFake, EmptyResultAndWalkToTheEnd) {
  SelectIdName();
  q.Open();
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(q.AtEnd());
  EXPECT_EQ(q.RowCount(), 0);
  EXPECT_TRUE(q.FieldNamed("name").IsNull());
  const FakeCall cursor = Fake().CallsTo("isc_dsql_set_cursor_name").at(0);
  EXPECT_EQ(cursor.args.at(1).size(), 8u);
  EXPECT_EQ(cursor.args.at(1).find_first_not_of("0123456789"), std::string::npos);
  EXPECT_EQ(cursor.args.at(2), "0");
  EXPECT_EQ(Fake().CallsTo("isc_dsql_execute2").at(0).args.at(4), "null");
  q.Close();
  EXPECT_EQ(Fake().CallsTo("isc_dsql_free_statement").back().args.at(1), "1");
  EXPECT_TRUE(q.Prepared());

  FetchRows(3);
  q.Open();
  EXPECT_FALSE(q.AtEnd());
  EXPECT_EQ(q.RowCount(), 1);
  std::vector<std::string> seen;
  while (!q.AtEnd()) {
    seen.push_back(q.FieldNamed("Id").AsString() + "/" + q.FieldNamed("NAME").AsString());
    q.Next();
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0/n0", "1/", "2/n2"}));
  EXPECT_EQ(q.RowCount(), 3);
  EXPECT_EQ(q.FieldNamed("ID").Value(), TValue(2));
  ExpectDatabaseError([&] { q.FieldNamed("NOPE"); }, "Campo 'NOPE' não encontrado");
}

TEST_F(QueryFake, FetchPastTheEndAnswerEndsTheCursor) {
  SelectIdName();
  FetchRows(1);
  q.Open();
  Fake().FailOn("isc_dsql_fetch", {{335544572}, {"Attempt to reopen an open cursor"}, -901});
  q.Next();
  EXPECT_TRUE(q.AtEnd());
  EXPECT_TRUE(q.Active());
  EXPECT_EQ(q.RowCount(), 1);
}

TEST_F(QueryFake, FailingFetchClosesTheCursorAndRaises) {
  SelectIdName();
  FetchRows(5);
  q.Open();
  Fake().FailOn("isc_dsql_fetch", {{335544321, 335544334}, {"arithmetic exception", "x."}, -802});
  try {
    q.Next();
    ADD_FAILURE() << "no error";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()), "arithmetic exception\r\nx");
  }
  EXPECT_FALSE(q.Active());
  EXPECT_EQ(q.RowCount(), 0);
  EXPECT_EQ(Fake().CallsTo("isc_dsql_free_statement").back().args.at(1), "1");
  EXPECT_TRUE(q.Prepared());
}

TEST_F(QueryFake, FailingFetchKeepsItsOwnTextWhenClosingTheCursorFailsToo) {
  SelectIdName();
  FetchRows(5);
  q.Open();
  Fake().FailOn("isc_dsql_fetch", {{335544321}, {"arithmetic exception."}, -802});
  Fake().FailOn("isc_dsql_free_statement", {{335544485}, {"invalid statement handle"}, -901});
  try {
    q.Next();
    ADD_FAILURE() << "no error";
  } catch (const EIBInterBaseError& error) {
    EXPECT_EQ(std::string(error.what()), "arithmetic exception");
    EXPECT_EQ(error.SqlCode(), -802);
  }
  EXPECT_FALSE(q.Active());
}

// A query that outlives its database or its transaction forgets them when they
// go, so that its own destruction touches neither.
TEST_F(QueryFake, QueryOutlivesItsDatabaseAndTransaction) {
  auto database = std::make_unique<TIBDatabase>();
  auto transaction = std::make_unique<TIBTransaction>();
  database->SetDatabaseName("localhost:/dados/T.FDB");
  database->SetDefaultTransaction(transaction.get());
  transaction->SetDefaultDatabase(database.get());
  auto query = std::make_unique<TIBQuery>();
  query->SetDatabase(database.get());
  DescribeColumns({{SQL_LONG, 4, "ID"}, {SQL_VARYING, 10, "NAME"}});
  FetchRows(3);
  query->SQL().SetText("select ID, NAME from T");
  query->Open();
  transaction.reset();
  EXPECT_EQ(query->Transaction(), nullptr);
  EXPECT_FALSE(query->Active());
  database.reset();
  EXPECT_EQ(query->Database(), nullptr);
  ExpectClientError([&] { query->Open(); }, 24, "Database não associada");
  query.reset();
  EXPECT_EQ(Fake().CallsTo("isc_detach_database").size(), 1u);
}

TEST_F(QueryFake, CloseIgnoresGoneStatementAndClosedCursor) {
  SelectIdName();
  for (const ISC_STATUS code : {335544485, 335544577}) {
    q.Open();
    Fake().FailOn("isc_dsql_free_statement", {{code}, {"gone"}, -901});
    EXPECT_NO_THROW(q.Close());
  }
  q.Open();
  Fake().FailOn("isc_dsql_free_statement", {{335544569}, {"Dynamic SQL Error"}, -104});
  EXPECT_THROW(q.Close(), EIBInterBaseError);
}

TEST_F(QueryFake, RowsBeyondOneChunkStayInOrder) {
  SelectIdName();
  FetchRows(2501);
  q.Open();
  int n = 0;
  while (!q.AtEnd()) {
    ASSERT_EQ(q.FieldNamed("ID").AsString(), std::to_string(n));
    ++n;
    q.Next();
  }
  EXPECT_EQ(n, 2501);
  EXPECT_EQ(q.RowCount(), 2501);
  EXPECT_EQ(q.FieldNamed("NAME").AsString(), "n2500");
}

TEST_F(QueryFake, ParametersAreWrittenAsTheirTypeSays) {
  Fake().statementType = isc_info_sql_stmt_insert;
  DescribeParams({{SQL_VARYING, 5, "S"},
                  {SQL_LONG, 4, "I16"},
                  {SQL_LONG, 4, "I32"},
                  {SQL_LONG, 4, "I64"},
                  {SQL_DOUBLE, 8, "F"},
                  {SQL_INT64, 8, "C", -2},
                  {SQL_TYPE_DATE, 4, "D"},
                  {SQL_TYPE_TIME, 4, "T"},
                  {SQL_TIMESTAMP, 8, "TS"},
                  {SQL_LONG, 4, "N"},
                  {SQL_LONG, 4, "E"}});
  q.SQL().SetText("insert into T values (:S, :I16, :I32, :I64, :F, :C, :D, :T, :TS, :N, :E)");
  q.ParamNamed("s").SetValue("abc");
  q.ParamNamed("I16").SetValue(std::int16_t{-2});
  q.ParamNamed("I32").SetValue(70000);
  q.ParamNamed("I64").SetValue(std::int64_t{1} << 40);
  q.ParamNamed("F").SetValue(0.5);
  q.ParamNamed("C").SetValue(TDecimal{125000});
  q.ParamNamed("D").SetValue(TDate{1858, 11, 17});  // day 0 of the server
  q.ParamNamed("T").SetValue(TTime{0, 0, 1, 5});
  q.ParamNamed("TS").SetValue(TDateTime{{1858, 11, 18}, {0, 0, 0, 0}});
  q.ParamNamed("N").SetValue(TValue());
  q.ParamNamed("E").SetValue("");  // empty text into a non-text parameter: null
  q.ExecQuery();

  const std::string in = Fake().CallsTo("isc_dsql_execute").at(0).args.at(3);
  const auto line = [&](int i) {
    const std::string tag = "[" + std::to_string(i) + "] ";
    const std::size_t start = in.find(tag);
    const std::size_t end = in.find('\n', start);
    std::string text = in.substr(start, end == std::string::npos ? end : end - start);
    // name/alias/relation are not under test here
    const std::size_t n = text.find(" name=");
    const std::size_t d = text.find(" data=");
    return text.substr(0, n) + (d == std::string::npos ? "" : text.substr(d));
  };
  EXPECT_EQ(line(0), "[0] type=453 scale=0 subtype=0 len=3 null=0 data=616263");
  EXPECT_EQ(line(1), "[1] type=501 scale=0 subtype=0 len=2 null=0 data=feff");
  EXPECT_EQ(line(2), "[2] type=497 scale=0 subtype=0 len=4 null=0 data=70110100");
  EXPECT_EQ(line(3), "[3] type=581 scale=0 subtype=0 len=8 null=0 data=0000000000010000");
  EXPECT_EQ(line(4), "[4] type=481 scale=0 subtype=0 len=8 null=0 data=000000000000e03f");
  EXPECT_EQ(line(5), "[5] type=581 scale=-4 subtype=0 len=8 null=0 data=48e8010000000000");
  EXPECT_EQ(line(6), "[6] type=571 scale=0 subtype=0 len=4 null=0 data=00000000");
  EXPECT_EQ(line(7), "[7] type=561 scale=0 subtype=0 len=4 null=0 data=15270000");
  EXPECT_EQ(line(8), "[8] type=511 scale=0 subtype=0 len=8 null=0 data=0100000000000000");
  EXPECT_EQ(line(9).substr(0, 43), "[9] type=497 scale=0 subtype=0 len=4 null=1");
  EXPECT_EQ(line(10).substr(0, 44), "[10] type=497 scale=0 subtype=0 len=4 null=1");
}

TEST_F(QueryFake, TextLongerThanTheParameterAndUnsupportedType) {
  Fake().statementType = isc_info_sql_stmt_update;
  DescribeParams({{SQL_TEXT, 3, "CODE"}});
  q.SQL().SetText("update T set CODE = :CODE");
  q.ParamNamed("CODE").SetValue("abcd");
  ExpectClientError([&] { q.ExecQuery(); }, 119,
                    "Tentando armazenar uma string de tamanho 4 em um campo que só pode conter 3");
  q.ParamNamed("CODE").SetDataType(TFieldType::Unknown);
  ExpectClientError([&] { q.ExecQuery(); }, 4, "Caracteristica não suportada");
  EXPECT_TRUE(q.Prepared());  // a failed execution leaves the statement prepared
}

TEST_F(QueryFake, SameNamedMarkersShareOneValue) {
  Fake().statementType = isc_info_sql_stmt_update;
  DescribeParams({{SQL_LONG, 4, "A"}, {SQL_LONG, 4, "B"}, {SQL_LONG, 4, "A"}});
  q.SQL().SetText("update T set A = :X, B = :Y where A = :x");
  ASSERT_EQ(q.ParamCount(), 3);
  q.ParamNamed("X").SetValue(7);
  q.ParamNamed("Y").SetValue(8);
  q.ExecQuery();
  const std::string in = Fake().CallsTo("isc_dsql_execute").at(0).args.at(3);
  EXPECT_EQ(std::count(in.begin(), in.end(), '\n'), 3);
  EXPECT_NE(in.find("[0] type=497 scale=0 subtype=0 len=4 null=0"), std::string::npos);
  EXPECT_NE(in.find("data=07000000\n[1]"), std::string::npos);
  EXPECT_NE(in.find("data=08000000\n[2]"), std::string::npos);
  EXPECT_EQ(in.substr(in.size() - 8), "07000000");
}

TEST_F(QueryFake, ParameterKeepsTypeAndValueAcrossTexts) {
  Fake().statementType = isc_info_sql_stmt_delete;
  DescribeParams({{SQL_LONG, 4, "ID"}});
  q.SQL().SetText("delete from A where ID = :ID");
  q.ParamNamed("ID").SetValue(std::int16_t{5});
  q.SQL().SetText("delete from B\r\nwhere ID = :id");
  q.SQL().Add("and X = :X");
  EXPECT_EQ(q.ParamNamed("ID").DataType(), TFieldType::Smallint);
  EXPECT_EQ(q.ParamNamed("ID").Value(), TValue(std::int16_t{5}));
  EXPECT_EQ(q.ParamNamed("X").DataType(), TFieldType::Unknown);
  ExpectDatabaseError([&] { q.ParamNamed("Z"); }, "Parametro 'Z' não encontrado");

  q.SQL().SetText("delete from B where ID = :ID");
  q.ParamNamed("ID").SetValue("7");  // another kind: the type stays 16-bit
  q.ExecQuery();
  const std::string in = Fake().CallsTo("isc_dsql_execute").at(0).args.at(3);
  EXPECT_NE(in.find("type=501 scale=0 subtype=0 len=2 null=0"), std::string::npos);
  EXPECT_EQ(in.substr(in.size() - 4), "0700");
}

TEST_F(QueryFake, ChecksOfTheQuery) {
  ExpectClientError([&] { q.ExecQuery(); }, 65, "Declaração de SQL vazia");
  q.SQL().SetText("update T set A = ?");
  ExpectClientError([&] { q.Prepare(); }, 55, "SQL Parse Error:\r\n\r\nNome de parâmetro esperado");
  q.SQL().SetText("/* only */");
  q.SQL().Add("");
  Fake().statementType = isc_info_sql_stmt_select;
  SelectIdName();
  ExpectClientError([&] { q.ExecQuery(); }, 66, "use \"Open\" para executar um \"Select\"");
  q.Open();
  ExpectDatabaseError([&] { q.ExecQuery(); },
                      "Não é possível realizar esta operação em um arquivo aberto");
  TIBDatabase other;
  ExpectClientError([&] { q.SetDatabase(&other); }, 33, "Dataset Aberta");
  // Setting the text of an open query closes it and drops its preparation.
  q.SQL().SetText("select ID, NAME from T where 1 = 1");
  EXPECT_FALSE(q.Active());
  EXPECT_FALSE(q.Prepared());

  TIBQuery alone;
  alone.SQL().SetText("select 1 from T");
  ExpectClientError([&] { alone.Open(); }, 24, "Database não associada");
  TIBDatabase bare;
  alone.SetDatabase(&bare);
  ExpectClientError([&] { alone.Open(); }, 25, "Transação não associada");
}

TEST_F(QueryFake, CommitUnpreparesAndTheNextExecutionPreparesAgain) {
  Fake().statementType = isc_info_sql_stmt_insert;
  q.SQL().SetText("insert into T values (1)");
  q.ExecQuery();
  tr.Commit();
  EXPECT_FALSE(q.Prepared());
  const auto frees = Fake().CallsTo("isc_dsql_free_statement");
  ASSERT_FALSE(frees.empty());
  EXPECT_EQ(frees.back().args.at(1), "2");
  q.ExecQuery();
  EXPECT_EQ(Fake().CallsTo("isc_dsql_prepare").size(), 2u);
  EXPECT_EQ(Fake().CallsTo("isc_start_multiple").size(), 2u);
  EXPECT_EQ(Fake().CallsTo("isc_dsql_execute").size(), 2u);
}

TEST_F(QueryFake, BlobColumnIsReadInPieces) {
  DescribeColumns({{SQL_BLOB, 8, "MEMO", 0, 1}});
  Fake().blobContent = std::string(40000, 'x') + "end";
  Fake().isc_dsql_fetch = [done = false](ISC_STATUS* s, isc_stmt_handle*, unsigned short,
                                         const XSQLDA* d) mutable -> ISC_STATUS {
    if (done) {
      Fake().Ok(s);
      return 100;
    }
    done = true;
    std::memset(d->sqlvar[0].sqldata, 1, 8);
    *d->sqlvar[0].sqlind = 0;
    return Fake().Ok(s);
  };
  q.SQL().SetText("select MEMO from T");
  q.Open();
  EXPECT_EQ(q.FieldNamed("MEMO").AsString(), Fake().blobContent);
  EXPECT_EQ(Fake().CallsTo("isc_blob_info").at(0).args.at(1), Bytes({4, 5, 6, 7}));
  EXPECT_EQ(Fake().CallsTo("isc_blob_info").at(0).args.at(2), "100");
  for (const FakeCall& c : Fake().CallsTo("isc_get_segment")) {
    EXPECT_LE(std::stoi(c.args.at(1)), 16384);
  }
}

// Arrays are no fields, but a copy reads and writes them whole: the slice
// is sized from the column's own descriptor, looked up once per statement.
TEST_F(QueryFake, ArrayIsReadAndWrittenWholeThroughItsDescriptor) {
  DescribeColumns({{SQL_LONG, 4, "ID"}, {SQL_ARRAY, 8, "GRID", 0, 0, "T"}});
  Fake().arrayShape.array_desc_dtype = blr_varying;
  Fake().arrayShape.array_desc_length = 3;
  Fake().arrayShape.array_desc_dimensions = 2;
  Fake().arrayShape.array_desc_bounds[0] = {0, 1};
  Fake().arrayShape.array_desc_bounds[1] = {1, 2};
  Fake().arrayContent = std::string(20, 'a');  // 4 elements of 2 + 3 bytes
  Fake().isc_dsql_fetch = [next = 0](ISC_STATUS* s, isc_stmt_handle*, unsigned short,
                                     const XSQLDA* d) mutable -> ISC_STATUS {
    if (next == 2) {
      Fake().Ok(s);
      return 100;
    }
    const ISC_QUAD id{0x7, ISC_ULONG(0x10 + next)};
    std::memcpy(d->sqlvar[1].sqldata, &id, sizeof id);
    *d->sqlvar[1].sqlind = next++ == 1 ? -1 : 0;  // the second row's array is NULL
    *d->sqlvar[0].sqlind = 0;
    return Fake().Ok(s);
  };
  q.SQL().SetText("select ID, GRID from T");
  q.Open();
  EXPECT_EQ(q.FieldCount(), 1);
  const TValue grid = q.ArrayNamed("grid");
  ASSERT_EQ(grid.Kind(), TValueKind::Bytes);
  EXPECT_EQ(grid.AsBytes(), TBytes(20, 'a'));
  const FakeCall lookup = Fake().CallsTo("isc_array_lookup_bounds").at(0);
  EXPECT_EQ(lookup.args.at(2), "T");
  EXPECT_EQ(lookup.args.at(3), "GRID");
  const FakeCall get = Fake().CallsTo("isc_array_get_slice").at(0);
  EXPECT_EQ(get.args.at(2), "7:10");
  EXPECT_EQ(get.args.at(3), "T.GRID dtype=37 len=3 [0:1][1:2]");
  EXPECT_EQ(get.args.at(4), "20");
  q.Next();
  EXPECT_TRUE(q.ArrayNamed("GRID").IsNull());
  EXPECT_EQ(Fake().CallsTo("isc_array_lookup_bounds").size(), 1u);
  EXPECT_EQ(Fake().CallsTo("isc_array_get_slice").size(), 1u);
  ExpectDatabaseError([&] { q.ArrayNamed("ID"); }, "Campo 'ID' não encontrado");
  q.Close();

  Fake().statementType = isc_info_sql_stmt_insert;
  DescribeParams({{SQL_ARRAY, 8, "GRID", 0, 0, "T"}});
  q.SQL().SetText("insert into T (GRID) values (:GRID)");
  q.ParamNamed("GRID").SetValue(grid);
  q.ExecQuery();
  const FakeCall put = Fake().CallsTo("isc_array_put_slice").at(0);
  EXPECT_EQ(put.args.at(2), "0:0");  // a new array
  EXPECT_EQ(put.args.at(3), "T.GRID dtype=37 len=3 [0:1][1:2]");
  EXPECT_EQ(put.args.at(4), std::string(20, 'a'));
  const std::string in = Fake().CallsTo("isc_dsql_execute").at(0).args.at(3);
  EXPECT_NE(in.find("[0] type=541 scale=0 subtype=0 len=8 null=0"), std::string::npos) << in;
  EXPECT_NE(in.find(" data=82000000"), std::string::npos) << in;  // the id the client gave

  // Only a whole array goes into an array parameter.
  q.ParamNamed("GRID").SetValue("abc");
  ExpectClientError([&] { q.ExecQuery(); }, 4, "Caracteristica não suportada");
}

}  // namespace

// The read path of TIBQuery over the fake client: rows fetched straight into
// the stored rows, the indicator of a column that cannot be null, the field
// looked up by name after another, and every column type's text through
// AsString and ReadText alike.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "FakeClient.h"
#include "fbaccess/ClientLibrary.h"
#include "fbaccess/EDatabaseError.h"
#include "fbaccess/TIBDatabase.h"
#include "fbaccess/TIBQuery.h"
#include "fbaccess/TIBTransaction.h"

namespace {

struct Column {
  short type;  // with the null bit when the column can be null
  short len;
  std::string name;
  short scale = 0;
};

void DescribeColumns(const std::vector<Column>& cols) {
  Fake().isc_dsql_describe = [cols](ISC_STATUS* s, isc_stmt_handle*, unsigned short, XSQLDA* d) {
    d->sqld = static_cast<short>(cols.size());
    for (int i = 0; i < std::min<int>(d->sqln, d->sqld); ++i) {
      XSQLVAR& v = d->sqlvar[i];
      const Column& c = cols[static_cast<std::size_t>(i)];
      v.sqltype = c.type;
      v.sqllen = c.len;
      v.sqlscale = c.scale;
      v.aliasname_length = static_cast<short>(c.name.size());
      std::memcpy(v.aliasname, c.name.data(), c.name.size());
    }
    return Fake().Ok(s);
  };
}

// One row per entry; each row is a list of (data bytes, indicator) per column.
struct Cell {
  std::string bytes;
  short ind = 0;
};
using Row = std::vector<Cell>;

template <typename T>
Cell Value(T v) {
  return Cell{std::string(reinterpret_cast<const char*>(&v), sizeof v), 0};
}

Cell Varchar(const std::string& text) {
  const auto len = static_cast<std::uint16_t>(text.size());
  return Cell{std::string(reinterpret_cast<const char*>(&len), 2) + text, 0};
}

Cell Timestamp(ISC_DATE date, ISC_TIME time) {
  ISC_TIMESTAMP ts{date, time};
  return Value(ts);
}

// Writes each row as the real client does: data always, the indicator only
// for columns described with the null bit.
void FetchRows(const std::vector<Row>& rows) {
  Fake().isc_dsql_fetch = [rows, next = std::size_t{0}](ISC_STATUS* s, isc_stmt_handle*,
                                                        unsigned short,
                                                        const XSQLDA* d) mutable -> ISC_STATUS {
    if (next == rows.size()) {
      Fake().Ok(s);
      return 100;
    }
    const Row& row = rows[next++];
    for (std::size_t i = 0; i < row.size(); ++i) {
      const XSQLVAR& v = d->sqlvar[i];
      std::memcpy(v.sqldata, row[i].bytes.data(), row[i].bytes.size());
      if ((v.sqltype & 1) != 0) {
        *v.sqlind = row[i].ind;
      } else {
        *v.sqlind = -1;  // what an unwritten indicator may hold
      }
    }
    return Fake().Ok(s);
  };
}

struct FakeClientNamed {
  FakeClientNamed() { ClientLibrary::UseLibraryFile(FAKE_CLIENT_LIBRARY); }
};

class QueryReadPath : public ::testing::Test, private FakeClientNamed {
 protected:
  void SetUp() override {
    Fake().Reset();
    db.SetDatabaseName("localhost:/dados/T.FDB");
    db.SetLoginPrompt(false);
    tr.SetDefaultDatabase(&db);
    db.SetDefaultTransaction(&tr);
    q.SetDatabase(&db);
    q.SQL().SetText("select * from T");
  }

  // The column's text through both readers, which must agree.
  std::string Text(const char* name) {
    const std::string text = q.FieldNamed(name).AsString();
    q.FieldNamed(name).ReadText(reused_);
    EXPECT_EQ(reused_, text) << name;
    return text;
  }

  TIBDatabase db;
  TIBTransaction tr;
  TIBQuery q;
  std::string reused_ = std::string(64, 'x');  // leftovers must not show through
};

TEST_F(QueryReadPath, NotNullColumnIsNeverNullWhateverItsIndicatorHolds) {
  DescribeColumns({{SQL_LONG, 4, "ID"}, {SQL_LONG | 1, 4, "N"}});
  FetchRows({{Value(std::int32_t{7}), Cell{Value(std::int32_t{0}).bytes, -1}},
             {Value(std::int32_t{8}), Value(std::int32_t{9})}});
  q.Open();
  EXPECT_FALSE(q.FieldNamed("ID").IsNull());
  EXPECT_EQ(Text("ID"), "7");
  EXPECT_TRUE(q.FieldNamed("N").IsNull());
  EXPECT_EQ(Text("N"), "");
  q.Next();
  EXPECT_EQ(Text("ID"), "8");
  EXPECT_EQ(Text("N"), "9");
  q.Next();
  EXPECT_TRUE(q.AtEnd());
  EXPECT_EQ(Text("ID"), "8");  // the last row stays current
}

TEST_F(QueryReadPath, RepeatedNameGivesTheFirstColumnWhateverWasReadBefore) {
  DescribeColumns({{SQL_LONG | 1, 4, "ID"}, {SQL_LONG | 1, 4, "NAME"}, {SQL_LONG | 1, 4, "id"}});
  FetchRows({{Value(std::int32_t{1}), Value(std::int32_t{2}), Value(std::int32_t{3})}});
  q.Open();
  EXPECT_EQ(Text("NAME"), "2");  // the next lookup starts after NAME, at the second "id"
  EXPECT_EQ(Text("Id"), "1");
  EXPECT_EQ(Text("NAME"), "2");
  EXPECT_EQ(Text("ID"), "1");
  EXPECT_THROW(q.FieldNamed("IDS"), EDatabaseError);
}

TEST_F(QueryReadPath, TextOfEveryKindOfValue) {
  DescribeColumns({{SQL_VARYING | 1, 30, "V"},
                   {SQL_TEXT | 1, 4, "C"},
                   {SQL_INT64 | 1, 8, "N4", -4},
                   {SQL_LONG | 1, 4, "N2", -2},
                   {SQL_SHORT | 1, 2, "S"},
                   {SQL_TYPE_DATE | 1, 4, "D"},
                   {SQL_TYPE_TIME | 1, 4, "T"},
                   {SQL_TIMESTAMP | 1, 8, "TS"}});
  // Server days count from 1858-11-17; times in ten-thousandths of a second.
  FetchRows({
      {Varchar("nome do item longo o bastante"), Cell{"ab  ", 0}, Value(INT64_MIN),
       Value(std::int32_t{-1205}), Value(std::int16_t{-32768}), Value(ISC_DATE{0}),
       Value(ISC_TIME{0}), Timestamp(-678575, 863999999)},
      {Varchar(""), Cell{std::string("a\0bc", 4), 0}, Value(std::int64_t{5}),
       Value(std::int32_t{100}), Value(std::int16_t{0}), Value(ISC_DATE{51603}),
       Value(ISC_TIME{10000}), Timestamp(2973483, 450000000)},
      {Varchar("x"), Cell{"    ", 0}, Value(std::int64_t{-123450000}), Value(std::int32_t{-5}),
       Value(std::int16_t{1}), Value(ISC_DATE{15079}), Value(ISC_TIME{452966789}),
       Timestamp(-1, 0)},
  });
  q.Open();
  EXPECT_EQ(Text("V"), "nome do item longo o bastante");
  EXPECT_EQ(Text("C"), "ab  ");
  EXPECT_EQ(Text("N4"), "-922337203685477.5808");
  EXPECT_EQ(Text("N2"), "-12.05");
  EXPECT_EQ(Text("S"), "-32768");
  EXPECT_EQ(Text("D"), "1858-11-17");
  EXPECT_EQ(Text("T"), "00:00:00");
  EXPECT_EQ(Text("TS"), "0001-01-01 23:59:59.9999");
  q.Next();
  EXPECT_EQ(Text("V"), "");
  EXPECT_EQ(Text("C"), "a");  // up to the first NUL byte
  EXPECT_EQ(Text("N4"), "0.0005");
  EXPECT_EQ(Text("N2"), "1");
  EXPECT_EQ(Text("S"), "0");
  EXPECT_EQ(Text("D"), "2000-02-29");
  EXPECT_EQ(Text("T"), "00:00:01");
  EXPECT_EQ(Text("TS"), "9999-12-31 12:30:00");
  q.Next();
  EXPECT_EQ(Text("V"), "x");
  EXPECT_EQ(Text("C"), "    ");
  EXPECT_EQ(Text("N4"), "-12345");
  EXPECT_EQ(Text("N2"), "-0.05");
  EXPECT_EQ(Text("D"), "1900-03-01");
  EXPECT_EQ(Text("T"), "12:34:56.6789");
  EXPECT_EQ(Text("TS"), "1858-11-16 00:00:00");
  EXPECT_EQ(q.FieldNamed("D").Value(), TValue(TDate{1900, 3, 1}));
  EXPECT_EQ(q.FieldNamed("TS").Value(), TValue(TDateTime{{1858, 11, 16}, {0, 0, 0, 0}}));
}

}  // namespace

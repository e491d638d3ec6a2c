// The two scans of a statement text for named parameters, and the text forms
// of typed values. Pure code: no client library involved.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fbaccess/EDatabaseError.h"
#include "fbaccess/EIBClientError.h"
#include "fbaccess/TValue.h"
#include "fbaccess/detail/SqlParamScan.h"

namespace {

using fbdetail::ProcessSqlText;
using fbdetail::ScanParamNames;
using Names = std::vector<std::string>;

void ExpectParseError(const std::string& text, const std::string& what) {
  try {
    ProcessSqlText(text);
    ADD_FAILURE() << "no parse error for " << text;
  } catch (const EIBClientError& error) {
    EXPECT_EQ(error.SqlCode(), 55);
    EXPECT_EQ(std::string(error.what()), "SQL Parse Error:\r\n\r\n" + what);
  }
}

TEST(ParamNameScan, QuotedPartsAreSkippedAndEveryOccurrenceCounts) {
  EXPECT_EQ(ScanParamNames("select * from T where A = :A and B = 'x:y' and C = \"q:r\" "
                           "and D = `s:t` and E = :A"),
            (Names{"A", "A"}));
  // A name ends at blank, CR, LF, ")", "," or ";" or the end of the text.
  EXPECT_EQ(ScanParamNames("values (:A,:B)\r\n:C;:D\n:E :F"),
            (Names{"A", "B", "C", "D", "E", "F"}));
  // "::" is never a parameter; a third colon may start one.
  EXPECT_EQ(ScanParamNames("select a::b, c:::d from T"), (Names{"d"}));
  // Quote characters inside a name are dropped and may hold delimiters.
  EXPECT_EQ(ScanParamNames("where X = :\"My Name\" and Y = :A+:B"), (Names{"My Name", "A+:B"}));
  // This scan knows no comments: the server scan decides (values go by name).
  EXPECT_EQ(ScanParamNames("/* :X */ select 1 from T"), (Names{"X"}));
  // An unterminated quote just ends the scan.
  EXPECT_EQ(ScanParamNames("where A = :A and B = 'x:y"), (Names{"A"}));
}

TEST(ServerTextScan, MarkersBecomeQuestionMarksOutsideQuotesAndComments) {
  const auto p = ProcessSqlText(
      "select 'it''s :x', \"col:\"\"n\" /* :c */ -- :d\r\nfrom T where A = :A_1 and B = :b$");
  EXPECT_EQ(p.Text,
            "select 'it''s :x', \"col:\"\"n\" /* :c */ -- :d\r\nfrom T where A = ? and B = ?");
  EXPECT_EQ(p.Names, (Names{"A_1", "b$"}));

  // The character ending a name goes into the text; quoted names lose quotes.
  const auto q = ProcessSqlText("select :A+:B, :\"Na me\" from T where x = a::int");
  EXPECT_EQ(q.Text, "select ?+?, ? from T where x = a::int");
  EXPECT_EQ(q.Names, (Names{"A", "B", "Na me"}));

  // A "?" written in the text is a marker without a name.
  const auto r = ProcessSqlText("update T set A = ? where B = :B");
  EXPECT_EQ(r.Text, "update T set A = ? where B = ?");
  EXPECT_EQ(r.Names, (Names{"", "B"}));
}

TEST(ServerTextScan, InsertBuiltLineByLine) {
  const std::string text = "insert into T (A, B)\r\nvalues (\r\n:A, \r\n:B);\r\n";
  EXPECT_EQ(ScanParamNames(text), (Names{"A", "B"}));
  const auto p = ProcessSqlText(text);
  EXPECT_EQ(p.Text, "insert into T (A, B)\r\nvalues (\r\n?, \r\n?);\r\n");
  EXPECT_EQ(p.Names, (Names{"A", "B"}));
}

// In an execute block only the declarations' markers are the statement's:
// the block's code uses its parameters and variables as ":NAME", which the
// server must get as written.
TEST(ServerTextScan, ExecuteBlockBindsItsDeclaredMarkersAndLeavesItsCodeAlone) {
  const std::string text =
      "  /* :c */ Execute\n  BLOCK (V0 type of column T.A = ?, \"Preço\" numeric(15,2) = ?,\r\n"
      "  \"X\"\"Y\" varchar(10) character set utf8 = :Outro, S char(3) = ? -- :d, ?\n)\n"
      "as declare k integer = 0; begin\n"
      "  insert into T (A, B) values (:V0, :\"Preço\"); k = :k + 1; /* ? */ x = 'a:b';\n"
      "end";
  const auto p = ProcessSqlText(text);
  std::string sent = text;
  sent.replace(sent.find(":Outro"), 6, "?");
  EXPECT_EQ(p.Text, sent);
  EXPECT_EQ(p.Names, (Names{"V0", "Preço", "Outro", "S"}));
  EXPECT_EQ(ScanParamNames(text), p.Names);

  // Without declarations a block has no markers at all.
  const std::string plain = "execute block returns (S bigint) as begin S = :S + 1; end";
  EXPECT_EQ(ProcessSqlText(plain).Text, plain);
  EXPECT_TRUE(ProcessSqlText(plain).Names.empty());
  EXPECT_TRUE(ScanParamNames(plain).empty());
  // Other statements that mention a block keep the usual markers.
  EXPECT_EQ(ScanParamNames("select :execute from T where block = :block"),
            (Names{"execute", "block"}));
  EXPECT_EQ(ScanParamNames("execute procedure P :A"), (Names{"A"}));
  EXPECT_EQ(ScanParamNames("execute blocks :A"), (Names{"A"}));
  // The declarations are read as any statement; the code is the server's.
  ExpectParseError("execute block (A integer = ? /* open", "EOF encontrada em comentário");
  ExpectParseError("execute block (A integer = :) as begin end", "Nome de parâmetro esperado");
  EXPECT_EQ(ProcessSqlText("execute block (A integer = ?) as begin /* open").Names, (Names{"A"}));
}

TEST(ServerTextScan, ParseErrors) {
  ExpectParseError("select 1 /* open comment", "EOF encontrada em comentário");
  ExpectParseError("select 'open string", "EOF encontrada em string");
  ExpectParseError("select 'it''s", "EOF encontrada em string");
  ExpectParseError("select \"open", "EOF encontrada em string");
  ExpectParseError("where A = :\"open", "EOF encontrada em string");
  ExpectParseError("where A = : B", "Nome de parâmetro esperado");
  ExpectParseError("where A = :", "Nome de parâmetro esperado");
  ExpectParseError("where A = :+1", "Nome de parâmetro esperado");
}

TEST(ValueText, IsoDatesAndPlainNumbers) {
  EXPECT_EQ(TValue(TDate{2024, 2, 29}).AsString(), "2024-02-29");
  EXPECT_EQ(TValue(TTime{7, 5, 3, 0}).AsString(), "07:05:03");
  EXPECT_EQ(TValue(TTime{23, 59, 59, 1230}).AsString(), "23:59:59.1230");
  EXPECT_EQ(TValue(TDateTime{{1999, 12, 31}, {12, 0, 1, 0}}).AsString(), "1999-12-31 12:00:01");
  EXPECT_EQ(TValue(TDecimal{125000}).AsString(), "12.5");
  EXPECT_EQ(TValue(TDecimal{-1}).AsString(), "-0.0001");
  EXPECT_EQ(TValue(TDecimal{30000}).AsString(), "3");
  EXPECT_EQ(TValue::DecimalText(-1205, 2), "-12.05");
  EXPECT_EQ(TValue(0.1).AsString(), "0.1");
  EXPECT_EQ(TValue(std::int64_t{-9000000000}).AsString(), "-9000000000");
  EXPECT_EQ(TValue().AsString(), "");
}

TEST(ValueText, TextFormsReadBack) {
  for (const TValue& v : {TValue(TDateTime{{2031, 1, 2}, {3, 4, 5, 6789}}),
                          TValue(TDateTime{{1899, 12, 30}, {0, 0, 0, 0}})}) {
    EXPECT_EQ(TValue(v.AsString()).AsDateTime(), *v.Get<TDateTime>());
  }
  EXPECT_EQ(TValue("2024-05-06").AsDateTime(), (TDateTime{{2024, 5, 6}, {}}));
  EXPECT_EQ(TValue("10:11").AsDateTime(), (TDateTime{{}, {10, 11, 0, 0}}));
  EXPECT_THROW(TValue("06/05/2024").AsDateTime(), EDatabaseError);
  EXPECT_THROW(TValue("2024-13-01").AsDateTime(), EDatabaseError);

  EXPECT_EQ(TValue("12.345").AsDecimal().Scaled, 123450);
  EXPECT_EQ(TValue("-0.00005").AsDecimal().Scaled, -1);  // rounds half away from zero
  EXPECT_EQ(TValue(TDecimal{25000}).AsInt64(), 3);
  EXPECT_EQ(TValue("42").AsInt64(), 42);
  EXPECT_THROW(TValue("4x").AsInt64(), EDatabaseError);
  EXPECT_THROW(TValue("1.5").AsInt64(), EDatabaseError);
}

TEST(ValueKind, UntypedParameterTakesTypeFromValue) {
  EXPECT_EQ(TValue(std::int16_t{1}).NaturalType(), TFieldType::Smallint);
  EXPECT_EQ(TValue(std::uint16_t{1}).NaturalType(), TFieldType::Integer);
  EXPECT_EQ(TValue(1).NaturalType(), TFieldType::Integer);
  EXPECT_EQ(TValue(std::uint32_t{1}).NaturalType(), TFieldType::Float);
  EXPECT_EQ(TValue(1.5f).NaturalType(), TFieldType::Float);
  EXPECT_EQ(TValue(std::int64_t{1}).NaturalType(), TFieldType::LargeInt);
  EXPECT_EQ(TValue(TDecimal{1}).NaturalType(), TFieldType::Currency);
  EXPECT_EQ(TValue(TDateTime{}).NaturalType(), TFieldType::DateTime);
  EXPECT_EQ(TValue("x").NaturalType(), TFieldType::String);
  EXPECT_EQ(TValue(true).NaturalType(), TFieldType::Boolean);
  EXPECT_EQ(TValue().NaturalType(), TFieldType::Unknown);
}

}  // namespace

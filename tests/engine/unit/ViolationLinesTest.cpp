// Reading the restore's foreign-key violations, the condition for one missing
// key, and the progress percentage.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/firebird/ViolationLines.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TextUtil.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

// As Firebird 3 writes them: each line ends with one blank.
const std::string kNamed =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDOS_CLIENTES\" on table "
    "\"PEDIDOS\" ";
const std::string kServerNamed =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"INTEG_5\" on table \"PEDIDOS\" ";

TEST(ForeignKeyErrors, DistinctViolationLinesInLogOrder) {
  std::string otherCase = kNamed;
  otherCase.replace(otherCase.find("PEDIDOS_CLIENTES"), 16, "pedidos_clientes");
  const std::vector<std::string> log = {"gbak:restoring table PEDIDOS",
                                        kNamed,
                                        "gbak: ERROR:action cancelled by trigger",
                                        otherCase,
                                        "   " + kServerNamed,
                                        kNamed,
                                        "gbak: error:violation of foreign key constraint \"X\""};
  EXPECT_THAT(getForeignKeyErrors(log), ElementsAre(kNamed, "   " + kServerNamed));
}

TEST(ForeignKeyErrors, NothingToFind) {
  EXPECT_THAT(getForeignKeyErrors({}), IsEmpty());
  EXPECT_THAT(getForeignKeyErrors({"gbak: ERROR:I/O error", ""}), IsEmpty());
}

TEST(ViolationLine, NamesOfFirebirdThreeLines) {
  EXPECT_EQ(getConstraintName(kNamed), "FK_PEDIDOS_CLIENTES");
  EXPECT_EQ(getTableName(kNamed), "PEDIDOS");
  EXPECT_EQ(getConstraintName(kServerNamed), "INTEG_5");
  EXPECT_EQ(getTableName(kServerNamed), "PEDIDOS");
}

TEST(ViolationLine, LastCharacterIsNeverCopied) {
  // Without the trailing blank the closing quote of the table is the last
  // character; with the name running to the end, its last letter is cut.
  EXPECT_EQ(getTableName("violation of FOREIGN KEY constraint \"FK\" on table \"PEDIDOS\""),
            "PEDIDOS");
  EXPECT_EQ(getTableName("constraint \"FK\" on table \"PEDIDOS"), "PEDIDO");
  EXPECT_EQ(getConstraintName("constraint \"FK_CLIENTES"), "FK_CLIENTE");
  EXPECT_EQ(getConstraintName("\""), "");
  EXPECT_EQ(getConstraintName("x\"A"), "");
}

TEST(ViolationLine, MalformedLinesStayWithinTheLine) {
  EXPECT_EQ(getConstraintName("gbak: ERROR:violation of FOREIGN KEY"), "");
  EXPECT_EQ(getTableName("gbak: ERROR:violation of FOREIGN KEY"), "");
  EXPECT_EQ(getTableName("constraint \"FK\" on TABLE \"PEDIDOS\" "), "");
  EXPECT_EQ(getTableName("constraint \"FK\" on table PEDIDOS"), "");
  EXPECT_EQ(getTableName("table"), "");
  EXPECT_EQ(getConstraintName(""), "");
  EXPECT_EQ(getTableName(""), "");
}

TEST(ViolationLine, ConstraintNameHoldingTheWordTableDoesNotMisleadTheTableName) {
  const std::string line = "violation of FOREIGN KEY constraint \"fk_table_x\" on table \"ITENS\" ";
  EXPECT_EQ(getConstraintName(line), "fk_table_x");
  EXPECT_EQ(getTableName(line), "ITENS");
}

TInconsistency WithKeys(std::vector<std::string> fields, std::vector<std::string> keys) {
  TInconsistency record;
  record.TableName = "CLIENTES";
  record.KeyFields = std::move(fields);
  record.MissingKeys = std::move(keys);
  return record;
}

TEST(WhereClause, ValuesAreQuotedLiteralsInKeyFieldOrder) {
  EXPECT_EQ(WithKeys({"ID"}, {"17"}).WhereClause(0), "where ID = '17'");
  EXPECT_EQ(WithKeys({"ID", "SEQ"}, {"5;1", "17;2"}).WhereClause(1),
            "where ID = '17' and SEQ = '2'");
  EXPECT_EQ(WithKeys({"CODE"}, {"ABC"}).WhereClause(0), "where CODE = 'ABC'");
}

TEST(WhereClause, AbsentPiecesAreEmptyLiterals) {
  EXPECT_EQ(WithKeys({"ID", "SEQ"}, {"17"}).WhereClause(0), "where ID = '17' and SEQ = ''");
  EXPECT_EQ(WithKeys({"ID"}, {""}).WhereClause(0), "where ID = ''");
  EXPECT_EQ(WithKeys({"ID", "SEQ"}, {"17;"}).WhereClause(0), "where ID = '17' and SEQ = ''");
  EXPECT_EQ(WithKeys({"ID", "SEQ"}, {";2"}).WhereClause(0), "where ID = '' and SEQ = '2'");
  EXPECT_EQ(WithKeys({}, {"17"}).WhereClause(0), "");
}

TEST(WhereClause, QuotesInValuesCannotRewriteTheCondition) {
  EXPECT_EQ(WithKeys({"NOME"}, {"D'Avila"}).WhereClause(0), "where NOME = 'D''Avila'");
  EXPECT_EQ(WithKeys({"ID"}, {"0' or '1'='1"}).WhereClause(0), "where ID = '0'' or ''1''=''1'");
  EXPECT_EQ(WithKeys({"ID"}, {"0 or 1=1"}).WhereClause(0), "where ID = '0 or 1=1'");
}

TEST(WhereClause, PiecesAreReadAsADelimitedList) {
  // Blanks before and after a value go; blanks inside it stay.
  EXPECT_EQ(WithKeys({"A", "B"}, {"  17 ;\t2  "}).WhereClause(0), "where A = '17' and B = '2'");
  EXPECT_EQ(WithKeys({"NOME"}, {"JOAO SILVA"}).WhereClause(0), "where NOME = 'JOAO SILVA'");
  // A value in double quotes runs to its closing quote; "" stands for one.
  EXPECT_EQ(WithKeys({"A", "B"}, {"\"x;y\";2"}).WhereClause(0), "where A = 'x;y' and B = '2'");
  EXPECT_EQ(WithKeys({"A"}, {"\"say \"\"hi\"\"\""}).WhereClause(0), "where A = 'say \"hi\"'");
  EXPECT_THROW(WithKeys({"A"}, {"1"}).WhereClause(1), std::out_of_range);
}

TEST(PercentText, WholePercentCutTowardsZero) {
  EXPECT_EQ(percentText(1, 3), "33%");
  EXPECT_EQ(percentText(2, 3), "66%");
  EXPECT_EQ(percentText(3, 3), "100%");
  EXPECT_EQ(percentText(0, 7), "0%");
  EXPECT_EQ(percentText(999999, 1000000), "99%");
  EXPECT_EQ(percentText(30000000, 30000000), "100%");
  EXPECT_EQ(percentText(5, 0), "");
}

TEST(TextHelpers, CaseAndTrim) {
  EXPECT_TRUE(SameTextIgnoringCase("Clientes", "CLIENTES"));
  EXPECT_FALSE(SameTextIgnoringCase("CLIENTE", "CLIENTES"));
  EXPECT_EQ(FindIgnoringCase("/a/b.FdB", ".fdb"), 4u);
  EXPECT_EQ(FindIgnoringCase("/a/b.fdb", ".fdb", 5), std::string::npos);
  EXPECT_EQ(FindIgnoringCase("ab", "abc"), std::string::npos);
  EXPECT_EQ(TrimText(" \t\r\nRDB$PRIMARY1   \n"), "RDB$PRIMARY1");
  EXPECT_EQ(TrimText("   "), "");
}

}  // namespace

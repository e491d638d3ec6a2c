// The parts of the orphan search and the salvage that need no server: key
// storage, key texts and their reading back, the log lines, names in SQL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/firebird/SqlName.h"
#include "engine/rows/KeyText.h"
#include "engine/rows/TKeySet.h"
#include "engine/rows/TOrphanLog.h"
#include "engine/rows/TSalvage.h"
#include "engine/run/TInconsistency.h"
#include "engine/run/TRecoveryContext.h"
#include "support/ScriptedHost.h"

namespace {

TEST(KeySetTest, ComparesWholeKeysExactlyAndKeepsThemAcrossGrowth) {
  TKeySet keys;
  EXPECT_FALSE(keys.Contains("1"));
  for (int i = 0; i < 50000; ++i) {
    ASSERT_TRUE(keys.Insert(std::to_string(i * 3)));
  }
  EXPECT_FALSE(keys.Insert("300"));
  EXPECT_EQ(50000u, keys.Size());
  for (int i = 0; i < 150000; ++i) {
    ASSERT_EQ(i % 3 == 0, keys.Contains(std::to_string(i))) << i;
  }
  // Letter case, trailing bytes and long shared beginnings all count.
  const std::string longKey = "CLIENTE DE TESTE NR 123456789012345";
  keys.Insert("abc");
  keys.Insert(longKey);
  keys.Insert(std::string("a\0b", 3));
  EXPECT_FALSE(keys.Contains("ABC"));
  EXPECT_FALSE(keys.Contains("abc "));
  EXPECT_FALSE(keys.Contains(longKey.substr(0, 20)));
  EXPECT_TRUE(keys.Contains(longKey));
  EXPECT_TRUE(keys.Contains(std::string("a\0b", 3)));
  EXPECT_FALSE(keys.Contains("a"));
  EXPECT_TRUE(keys.Insert(""));
  EXPECT_TRUE(keys.Contains(""));
  // A key longer than 127 bytes carries a longer length prefix.
  const std::string huge(300, 'x');
  EXPECT_TRUE(keys.Insert(huge));
  EXPECT_TRUE(keys.Contains(huge));
  EXPECT_FALSE(keys.Contains(std::string(299, 'x')));
}

TEST(KeySetTest, HoldsAHundredThousandIntegerKeysInFewBytesEach) {
  TKeySet keys;
  for (int i = 1; i <= 100000; ++i) {
    keys.Insert(std::to_string(i));
  }
  EXPECT_LT(keys.MemoryBytes() / keys.Size(), 30u);
}

TEST(KeyTextTest, JoinsValuesSoThatWhereClauseReadsThemBack) {
  EXPECT_EQ("17", KeyText({"17"}));
  EXPECT_EQ("17;2", KeyText({"17", "2"}));
  EXPECT_EQ("CLIENTE D'AVILA NR 10", KeyText({"CLIENTE D'AVILA NR 10"}));
  EXPECT_EQ("", KeyText({""}));
  EXPECT_EQ("", KeyText({"", ""}));
  // Every value keeps its place, also after an empty one.
  EXPECT_EQ(";2", KeyText({"", "2"}));
  EXPECT_EQ("\"a;b\"", KeyText({"a;b"}));
  EXPECT_EQ("\" x\"", KeyText({" x"}));
  EXPECT_EQ("\"\"\"q\"", KeyText({"\"q"}));

  const std::vector<std::vector<std::string>> keys = {
      {"17", "2"}, {"", "2"}, {"17", ""}, {"a;b", "c"}, {" lead", "x\"y"}, {"\"q\"", "D'AVILA"}};
  for (const auto& values : keys) {
    TInconsistency record;
    record.KeyFields = {"A", "B"};
    record.MissingKeys = {KeyText(values)};
    auto literal = [](const std::string& v) {
      std::string text = "'";
      for (const char c : v) {
        text += c == '\'' ? "''" : std::string(1, c);
      }
      return text + "'";
    };
    EXPECT_EQ("where A = " + literal(values[0]) + " and B = " + literal(values[1]),
              record.WhereClause(0))
        << record.MissingKeys[0];
  }
  // Field names the server keeps in mixed case or with blanks are quoted.
  TInconsistency quoted;
  quoted.KeyFields = {"Codigo", "DATA ENTREGA", "SEQ"};
  quoted.MissingKeys = {"17;2024-01-02;3"};
  EXPECT_EQ("where \"Codigo\" = '17' and \"DATA ENTREGA\" = '2024-01-02' and SEQ = '3'",
            quoted.WhereClause(0));
}

TEST(KeyTextTest, LookupFormsOfSeveralFieldsDoNotRunTogether) {
  std::string first;
  AppendLookupValue(first, "1;2", true);
  AppendLookupValue(first, "3", true);
  std::string second;
  AppendLookupValue(second, "1", true);
  AppendLookupValue(second, "2;3", true);
  EXPECT_NE(first, second);
  std::string single;
  AppendLookupValue(single, "17", false);
  EXPECT_EQ("17", single);
  EXPECT_EQ("AB", WithoutTrailingBlanks("AB  "));
  EXPECT_EQ(" AB", WithoutTrailingBlanks(" AB"));
}

class OrphanLogTest : public ::testing::Test {
 protected:
  ScriptedHost host_;
  TRecoveryContext context_{host_, "/d/EMPRESA.FDB", ""};
  TOrphanLog log_{context_};
};

TEST_F(OrphanLogTest, WritesTheSearchOfOneParentLineByLine) {
  context_.WriteLog("gbak: earlier output");
  log_.Begin("CLIENTES");
  log_.Append("Obtendo relacionamentos ...");
  log_.ChildStart("PEDIDOS", 1, 2);
  log_.ChildLoaded(3);
  log_.ChildAnalysed(3);
  log_.ChildStart("NOTAS", 2, 2);
  log_.ChildLoaded(0);
  log_.ChildAnalysed(0);
  log_.Close({"17", "18"}, "CLIENTES", "SEQ");

  const std::string rule(80, '-');
  const std::vector<std::string> expected = {rule,
                                             "Analisando relacionamentos de CLIENTES",
                                             rule,
                                             "Obtendo relacionamentos ...",
                                             "- PEDIDOS (1 de 2)",
                                             "  Carregando dados... 3 registros",
                                             "  Analisando dados ... 100%",
                                             "",
                                             "- NOTAS (2 de 2)",
                                             "  Carregando dados... 0 registros",
                                             "  Analisando dados ... ",
                                             "",
                                             "Ocorrências: 2 (itens ausentes em CLIENTES[SEQ])",
                                             "17",
                                             "18",
                                             rule,
                                             ""};
  EXPECT_EQ(expected, context_.RunLog());
  EXPECT_EQ(expected, host_.LogLines());
  // The progress line of three rows went 33%, 66%, 100%, each in place.
  const auto calls = host_.Calls("WriteLog 6 ");
  EXPECT_EQ((std::vector<std::string>{"WriteLog 6   Analisando dados ... 33%",
                                      "WriteLog 6   Analisando dados ... 66%",
                                      "WriteLog 6   Analisando dados ... 100%"}),
            calls);
}

TEST_F(OrphanLogTest, RewritesTheProgressLineOnlyWhenItsTextChanges) {
  log_.ChildStart("PEDIDOS", 1, 1);
  log_.ChildLoaded(100000);
  log_.ChildAnalysed(100000);
  log_.Close({}, "CLIENTES", "ID");
  EXPECT_EQ(101u, host_.Calls("WriteLog 2 ").size());  // 0% to 100%
  EXPECT_EQ("Nenhuma ocorrência encontrada.", context_.RunLog().back());
  EXPECT_EQ("", context_.RunLog()[3]);
}

TEST(SalvageTextsTest, InsertStatementHasOneLinePerColumnAndValue) {
  EXPECT_EQ((std::vector<std::string>{" insert into CLIENTES(", "ID, ", "NOME", ") values (",
                                      ":ID, ", ":NOME", ");"}),
            TSalvage::InsertLines("CLIENTES", {"ID", "NOME"}));
  // Names the server keeps in mixed case or with blanks are quoted; their
  // parameters get names of their own.
  EXPECT_EQ((std::vector<std::string>{" insert into \"Clientes\"(", "ID, ", "\"Data Nasc\"",
                                      ") values (", ":ID, ", ":_2", ");"}),
            TSalvage::InsertLines("Clientes", {"ID", "Data Nasc"}));
  // Markers never share a name, also with columns named like markers.
  EXPECT_EQ((std::vector<std::string>{" insert into T(", "\"Nome\", ", "P1, ", "\"_2\"",
                                      ") values (", ":_1, ", ":P1, ", ":_3", ");"}),
            TSalvage::InsertLines("T", {"Nome", "P1", "_2"}));
  EXPECT_EQ("\"A\"\"B\"", SqlName("A\"B"));
  EXPECT_EQ("RDB$X_1", SqlName("RDB$X_1"));
  EXPECT_EQ("\"ORDER\"", SqlName("ORDER"));
  EXPECT_EQ("ORDERS", SqlName("ORDERS"));
}

TEST(SalvageTextsTest, TemporaryDatabaseNeverNamesTheDatabaseItself) {
  EXPECT_EQ("/d/EMPRESA-TEMP.FDB", TSalvage::TemporaryPath("/d/EMPRESA.FDB"));
  EXPECT_EQ("/d/empresa-TEMP.FDB", TSalvage::TemporaryPath("/d/empresa.fdb"));
  // Only the file name changes, never a folder.
  EXPECT_EQ("/x.fdb/E-TEMP.FDB", TSalvage::TemporaryPath("/x.fdb/E.FDB"));
  EXPECT_EQ("/d/EMPRESA.GDB-TEMP.FDB", TSalvage::TemporaryPath("/d/EMPRESA.GDB"));
}

}  // namespace

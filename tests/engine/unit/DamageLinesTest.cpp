// What the run reads out of the server's outputs about the damage, and the
// order in which it fills tables.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "engine/firebird/DamageLines.h"
#include "engine/rows/TableOrder.h"
#include "engine/run/TextUtil.h"

namespace {

const char* const kRefused =
    "gbak: ERROR:validation error for column \"PESSOAS\".\"ID\", value \"*** null ***\" ";
const char* const kForeignKey =
    "gbak: ERROR:violation of FOREIGN KEY constraint \"FK_CONTAS_PESSOAS\" on table \"CONTAS\" ";
const char* const kFinished = "gbak:finishing, closing, and going home ";

}  // namespace

// Lines as Firebird 3.0.11 printed them for a torn parent page.
TEST(DamageLines, RefusedRowsAndForeignKeysAloneLetLevelTwoMend) {
  const std::vector<std::string> restore{
      "gbak:validation error on column in table PESSOAS ",
      kRefused,
      kRefused,
      "gbak: ERROR:validation error for column \"CONTAS\".\"VALOR\", value \"*** null ***\" ",
      "gbak:cannot commit index FK_CONTAS_PESSOAS ",
      kForeignKey,
      "gbak: ERROR:    Foreign key reference target does not exist ",
      kFinished};
  EXPECT_EQ((std::map<std::string, long long>{{"CONTAS", 1}, {"PESSOAS", 2}}),
            RefusedRowsPerTable(restore));
  EXPECT_TRUE(FailedOnlyOnKeysAndRows(restore));

  // Any other error, or a restore that did not reach its end, is not mended.
  std::vector<std::string> other = restore;
  other.insert(other.begin() + 2, "gbak: ERROR:I/O error during \"write\" operation ");
  EXPECT_FALSE(FailedOnlyOnKeysAndRows(other));
  std::vector<std::string> unfinished(restore.begin(), restore.end() - 1);
  EXPECT_FALSE(FailedOnlyOnKeysAndRows(unfinished));
  EXPECT_FALSE(FailedOnlyOnKeysAndRows({kFinished}));
}

TEST(DamageLines, OnlineValidationNamesEachDamagedTableOnce) {
  EXPECT_EQ((std::vector<std::string>{"PEDIDOS", "RDB$PAGES"}),
            TablesWithErrors({"Validation started", "Relation 129 (PEDIDOS)",
                              "  process pointer page    0 of    1",
                              "Relation 129 (PEDIDOS) : 2 ERRORS found",
                              "Relation 130 (NOTAS) is in use, lock timeout",
                              "Relation 2 (RDB$PAGES) : 1 ERRORS found",
                              "Relation 129 (PEDIDOS) : 2 ERRORS found", "Validation finished"}));
}

// The names sort the wrong way round for the foreign keys.
TEST(TableOrder, ParentsComeFirstAndACycleIsNamed) {
  const std::map<std::string, std::vector<std::string>> parents{
      {"ANOTACOES", {"CONTAS", "ANOTACOES"}},
      {"CONTAS", {"PESSOAS", "MOEDAS"}},  // MOEDAS is not being filled
      {"PESSOAS", {}},
      {"X", {"Y"}},
      {"Y", {"X"}}};
  const TableOrder order =
      ParentsFirstTables({"ANOTACOES", "CONTAS", "PESSOAS", "X", "Y"},
                         [&](const std::string& table) { return parents.at(table); });
  EXPECT_EQ((std::vector<std::string>{"PESSOAS", "CONTAS", "ANOTACOES", "X", "Y"}), order.order);
  EXPECT_EQ((std::vector<std::string>{"X", "Y"}), order.cycle);
}

TEST(TextUtil, CondensedLinesCountRepeatsAndStopAtTheLimit) {
  EXPECT_EQ((std::vector<std::string>{"a (3 vezes)", "b"}), CondensedLines({"a", "b", "a", "a"}));
  std::vector<std::string> many;
  for (int i = 0; i < 30; ++i) {
    many.push_back("erro " + std::to_string(i % 15));
  }
  const std::vector<std::string> condensed = CondensedLines(many, 10);
  ASSERT_EQ(10u, condensed.size());
  EXPECT_EQ("erro 0 (2 vezes)", condensed.front());
  EXPECT_EQ("… e mais 6 mensagens diferentes (veja o log e o relatório)", condensed.back());
}

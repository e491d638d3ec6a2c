// Row counts read from a verbose restore's output (lines as Firebird 3.0.11
// prints them), instead of counting the restored database again.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "engine/firebird/RestoreCounts.h"

namespace {

TEST(RestoreCounts, TablesViewsEmptyTablesAndProgressLines) {
  const auto counts = RowCountsFromRestore({
      "gbak:restoring table T ",
      "gbak:restoring table E ",
      "gbak:restoring table V ",
      "gbak:    table V is a view ",
      "gbak:restoring data for table T ",
      "gbak:   10000 records restored ",
      "gbak:   20000 records restored ",
      "gbak:   20017 records restored ",
      "gbak:restoring data for table ITENS ",
      "gbak:   2 records restored ",
      "gbak:finishing, closing, and going home ",
  });
  ASSERT_TRUE(counts.has_value());
  EXPECT_EQ(*counts, (IRecoverySteps::RowCounts{{"T", 20017}, {"E", 0}, {"ITENS", 2}}));
  EXPECT_FALSE(RowCountsFromRestore({"gbak:finishing, closing, and going home "}).has_value());
}

}  // namespace

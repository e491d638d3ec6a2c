// Integer keys told as runs of consecutive values: the runs one database
// lacks of another's, exactly, at the ends of BIGINT too.
#include <gtest/gtest.h>

#include <limits>

#include "engine/rows/TKeyRuns.h"

namespace {

using TRuns = TKeyRuns::TRuns;

TEST(KeyRunsTest, MissingValuesAreExactlyThoseNoHeldRunCovers) {
  constexpr long long kMin = std::numeric_limits<long long>::min();
  constexpr long long kMax = std::numeric_limits<long long>::max();
  // A damaged page's rows: one gap inside one run.
  EXPECT_EQ((TRuns{{152634, 152672}}),
            TKeyRuns::Missing({{1, 300000}}, {{1, 152633}, {152673, 300000}}));
  // Held runs that overlap the edges, cover several runs, or lie outside.
  EXPECT_EQ(
      (TRuns{{1, 2}, {6, 6}, {20, 25}, {40, 40}}),
      TKeyRuns::Missing({{1, 10}, {20, 25}, {30, 40}}, {{3, 5}, {7, 12}, {26, 39}, {50, 60}}));
  EXPECT_EQ((TRuns{}), TKeyRuns::Missing({{5, 9}}, {{0, 100}}));
  EXPECT_EQ((TRuns{{5, 9}}), TKeyRuns::Missing({{5, 9}}, {}));
  EXPECT_EQ((TRuns{{kMin, kMin}, {kMax, kMax}}),
            TKeyRuns::Missing({{kMin, kMin}, {-1, 1}, {kMax, kMax}}, {{-1, 1}}));
  EXPECT_EQ((TRuns{{kMin, -2}, {2, kMax}}), TKeyRuns::Missing({{kMin, kMax}}, {{-1, 1}}));
  EXPECT_EQ(0xFFFFFFFFFFFFFFFDull, TKeyRuns::Count({{kMin, -2}, {2, kMax}}));
  EXPECT_EQ(7u, TKeyRuns::Count({{1, 2}, {6, 6}, {20, 23}}));
}

TEST(KeyRunsTest, RunsReadOutOfOrderAreSortedAndJoined) {
  constexpr long long kMin = std::numeric_limits<long long>::min();
  // The server walked BIGINT's smallest value after -1.
  EXPECT_EQ((TRuns{{kMin, kMin}, {-1, -1}, {1, 3}, {5, 9}}),
            TKeyRuns::Normalised({{-1, -1}, {kMin, kMin}, {1, 1}, {2, 3}, {5, 6}, {6, 9}}));
  const TRuns runs = {{kMin, kMin}, {-1, -1}, {1, 3}, {5, 9}};
  EXPECT_TRUE(TKeyRuns::Contains(runs, kMin));
  EXPECT_TRUE(TKeyRuns::Contains(runs, 2));
  EXPECT_TRUE(TKeyRuns::Contains(runs, 9));
  EXPECT_FALSE(TKeyRuns::Contains(runs, 0));
  EXPECT_FALSE(TKeyRuns::Contains(runs, 4));
  EXPECT_FALSE(TKeyRuns::Contains(runs, 10));
  EXPECT_FALSE(TKeyRuns::Contains({}, 1));
}

}  // namespace

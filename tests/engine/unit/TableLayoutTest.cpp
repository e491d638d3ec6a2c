// Insert order of rows of a table that refers to itself, and the key texts
// the order is built from.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/rows/TTableLayout.h"

namespace {

using Order = std::vector<std::size_t>;

TEST(TableLayout, ParentsFirstPutsEveryRowAfterTheRowsItRefersTo) {
  // Rows 0..3 form a chain listed children first: 0 -> 1 -> 2 -> 3 (root).
  TTableLayout::TLinks chain{{"a", "b", "c", "d"}, {"b", "c", "d", ""}};
  EXPECT_EQ(TTableLayout::ParentsFirst(4, {chain}), (Order{3, 2, 1, 0}));
  // A parent outside the set and a row referring to itself keep their place.
  TTableLayout::TLinks loose{{"a", "b", "c"}, {"zz", "b", ""}};
  EXPECT_EQ(TTableLayout::ParentsFirst(3, {loose}), (Order{0, 1, 2}));
  // A cycle (1 <-> 2) cannot be ordered: it comes last, as listed.
  TTableLayout::TLinks cycle{{"a", "b", "c", "d"}, {"", "c", "b", "a"}};
  EXPECT_EQ(TTableLayout::ParentsFirst(4, {cycle}), (Order{0, 3, 1, 2}));
  // Two references: row 0 waits for row 2 through the first, row 2 for row 1
  // through the second.
  TTableLayout::TLinks first{{"a", "b", "c"}, {"c", "", ""}};
  TTableLayout::TLinks second{{"x", "y", "z"}, {"", "", "y"}};
  EXPECT_EQ(TTableLayout::ParentsFirst(3, {first, second}), (Order{1, 2, 0}));
  EXPECT_TRUE(TTableLayout::ParentsFirst(0, {}).empty());
}

TEST(TableLayout, KeysIgnoreTrailingBlanksAndANullPartMeansNoKey) {
  const std::vector<TValue> row{TValue("CA  "), TValue(7), TValue()};
  EXPECT_EQ(TTableLayout::KeyOf(row, {0}), TTableLayout::KeyOf({TValue("CA")}, {0}));
  EXPECT_EQ(TTableLayout::KeyOf(row, {0, 2}), "");
  // Parts carry their length: ("1;2", "3") and ("1", "2;3") differ.
  EXPECT_NE(TTableLayout::KeyOf({TValue("1;2"), TValue("3")}, {0, 1}),
            TTableLayout::KeyOf({TValue("1"), TValue("2;3")}, {0, 1}));
}

}  // namespace

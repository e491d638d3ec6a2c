// The statement that inserts a block of rows: the client must find one
// parameter per value, in the order the values are bound, whatever the
// names of the table and its columns.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/rows/TBlockInsert.h"
#include "fbaccess/TIBQuery.h"

namespace {

TEST(BlockInsert, OneParameterPerValueInBindingOrder) {
  // A reserved word, a name with a colon and a lower-case one: all quoted.
  const std::vector<std::string> columns{"ID", "ORDER", "A:B", "preço"};
  const std::size_t rows = 120;
  TIBQuery query;
  query.SQL().SetText(TBlockInsert::BlockText("ITENS DO PEDIDO", columns, rows));
  const std::vector<TParam>& params = query.Params();
  ASSERT_EQ(params.size(), rows * columns.size());
  for (std::size_t i = 0; i < params.size(); ++i) {
    EXPECT_EQ(params[i].Name(), TBlockInsert::ParamName(i)) << i;
  }
}

TEST(BlockInsert, ParameterNamesAreDistinctAndDifferEarly) {
  std::set<std::string> names;
  for (std::size_t i = 0; i < 5000; ++i) {
    names.insert(TBlockInsert::ParamName(i));
  }
  EXPECT_EQ(names.size(), 5000u);
  // Neighbours differ right after the leading letter.
  EXPECT_NE(TBlockInsert::ParamName(10)[1], TBlockInsert::ParamName(11)[1]);
}

// A table's first rows go one by one; blocks grow to the table's largest
// only once enough rows came to pay for preparing each size.
TEST(BlockInsert, BlocksGrowWithTheRowsThatCame) {
  EXPECT_EQ(TBlockInsert::TargetRows(0, 240), 1u);
  EXPECT_EQ(TBlockInsert::TargetRows(127, 240), 1u);
  EXPECT_EQ(TBlockInsert::TargetRows(128, 240), 16u);
  EXPECT_EQ(TBlockInsert::TargetRows(511, 240), 16u);
  EXPECT_EQ(TBlockInsert::TargetRows(512, 240), 64u);
  EXPECT_EQ(TBlockInsert::TargetRows(1919, 240), 64u);
  EXPECT_EQ(TBlockInsert::TargetRows(1920, 240), 240u);
  EXPECT_EQ(TBlockInsert::TargetRows(1000000, 240), 240u);
  // Wide rows: the table's largest block comes sooner, never a larger one.
  EXPECT_EQ(TBlockInsert::TargetRows(79, 10), 1u);
  EXPECT_EQ(TBlockInsert::TargetRows(80, 10), 10u);
  EXPECT_EQ(TBlockInsert::TargetRows(1000000, 10), 10u);
  EXPECT_EQ(TBlockInsert::TargetRows(1000000, 1), 1u);
}

}  // namespace

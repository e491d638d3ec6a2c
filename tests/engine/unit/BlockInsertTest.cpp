// The statement that inserts a block of rows: the client must find one
// parameter per value, in the order the values are bound, whatever the
// names of the table and its columns.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/TBlockInsert.h"
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

}  // namespace

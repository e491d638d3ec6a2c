// How the orphan search asks the server for a child's missing parent keys,
// by the tables' sizes: no server needed.
#include <gtest/gtest.h>

#include "engine/rows/TOrphanSearch.h"

namespace {

TEST(OrphanSearchWay, SortsUnlessTheParentOutgrowsTheChildAndLooksUpOnlyThroughAnActiveIndex) {
  using TWay = TOrphanSearch::TWay;
  EXPECT_EQ(TWay::Sorted, TOrphanSearch::ChooseWay(300000, 300000, true));
  EXPECT_EQ(TWay::Sorted, TOrphanSearch::ChooseWay(300000, 150000, true));
  EXPECT_EQ(TWay::Lookup, TOrphanSearch::ChooseWay(300001, 150000, true));
  EXPECT_EQ(TWay::Lookup, TOrphanSearch::ChooseWay(10000000, 100, true));
  // Sizes not known: the lookup, which never sorts a large parent.
  EXPECT_EQ(TWay::Lookup, TOrphanSearch::ChooseWay(-1, 100, true));
  EXPECT_EQ(TWay::Lookup, TOrphanSearch::ChooseWay(100, -1, true));
  // No index to look up through: the server sorts, whatever the sizes.
  EXPECT_EQ(TWay::Sorted, TOrphanSearch::ChooseWay(10000000, 100, false));
  EXPECT_EQ(TWay::Sorted, TOrphanSearch::ChooseWay(-1, -1, false));
}

}  // namespace

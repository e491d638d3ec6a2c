// One repair at a time per database, and no lock file left behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "engine/run/TRunLock.h"

TEST(RunLock, OneHolderPerDatabaseAndTheFileGoesWithTheLastHolder) {
  const std::string database = "/tmp/tessarine-run-lock-test/EMPRESA.FDB";
  auto first = std::make_unique<TRunLock>(database);
  ASSERT_TRUE(first->Held());
  const std::string file = first->Path();
  EXPECT_TRUE(std::filesystem::exists(file));
  {
    const TRunLock second(database);
    EXPECT_FALSE(second.Held());
  }
  EXPECT_TRUE(std::filesystem::exists(file));  // the refused run leaves the holder's file
  first.reset();
  EXPECT_FALSE(std::filesystem::exists(file));
  const TRunLock again(database);
  EXPECT_TRUE(again.Held());
}

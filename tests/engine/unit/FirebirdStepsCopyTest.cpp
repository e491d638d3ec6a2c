// The working copy needs no server: whole copies under the final name only,
// and a run ended by the window while a question is open is not swallowed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/ERunAborted.h"
#include "support/ScriptedHost.h"

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FirebirdStepsCopy : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("tessarine-copy-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    std::string content(3 * 1024 * 1024 + 17, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
      content[i] = char(i * 31 % 251);
    std::ofstream(folder_ / "EMPRESA.FDB", std::ios::binary) << content;
  }
  void TearDown() override { fs::remove_all(folder_); }

  fs::path folder_;
};

TEST_F(FirebirdStepsCopy, CopiesTheWholeFileAndLeavesNothingElse) {
  ScriptedHost host;
  TRecoveryContext context(host, (folder_ / "EMPRESA.FDB").string(), "");
  TFirebirdSteps steps(context);
  const fs::path target = folder_ / "EMPRESA (Copia).FDB";
  EXPECT_TRUE(steps.doCopy((folder_ / "EMPRESA.FDB").string(), target.string()));
  EXPECT_TRUE(ReadFile(folder_ / "EMPRESA.FDB") == ReadFile(target));
  EXPECT_EQ(2, std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
  EXPECT_TRUE(host.Questions().empty());
}

TEST_F(FirebirdStepsCopy, ATakenTargetIsNeverReplaced) {
  ScriptedHost host;
  TRecoveryContext context(host, (folder_ / "EMPRESA.FDB").string(), "");
  TFirebirdSteps steps(context);
  const fs::path target = folder_ / "EMPRESA (Copia).FDB";
  std::ofstream(target) << "antiga";
  const StepResult copied = steps.doCopy((folder_ / "EMPRESA.FDB").string(), target.string());
  EXPECT_FALSE(copied);
  EXPECT_TRUE(copied.WasRaised());
  EXPECT_EQ("antiga", ReadFile(target));
  // Nothing of the failed copy is left beside it.
  EXPECT_EQ(2, std::distance(fs::directory_iterator(folder_), fs::directory_iterator()));
}

}  // namespace

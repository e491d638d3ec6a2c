// The checks a front end makes before a run starts.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "engine/run/TRunInputs.h"

namespace fs = std::filesystem;

namespace {

class RunInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/tessarine-inputs-XXXXXX";
    folder_ = ::mkdtemp(pattern);
  }
  void TearDown() override { fs::remove_all(folder_); }
  std::string Make(const std::string& name) {
    const std::string path = folder_ + "/" + name;
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path) << "x";
    return path;
  }
  std::string folder_;
};

TEST_F(RunInputs, RefusesWhatNoRunCanWorkOn) {
  EXPECT_EQ(TRunInputs::Problem(""), "Nenhum banco de dados informado.");
  EXPECT_EQ(TRunInputs::Problem(folder_ + "/nada.fdb"),
            "O banco de dados informado não existe neste computador.");
  EXPECT_EQ(TRunInputs::Problem(Make("empresa.gdb")),
            "O arquivo informado não é um banco de dados Firebird (.FDB).");
  EXPECT_EQ(TRunInputs::Problem(Make("Empresa.FdB")), "");
  // A folder named like a database is not a database file.
  EXPECT_EQ(TRunInputs::Problem(Make("copias.fdb/empresa.fdb")), "");
  EXPECT_EQ(TRunInputs::Problem(folder_ + "/copias.fdb"),
            "O banco de dados informado não existe neste computador.");
}

TEST_F(RunInputs, APathTheServerCouldNotTakeIsRefusedUpFront) {
  // The run's longest name adds " dd-mm-yyyy hh-nn-999 NIVEL02.fbk" to the stem.
  const std::size_t room =
      TRunInputs::kMaxPathBytes - std::string(" dd-mm-yyyy hh-nn-999 NIVEL02.fbk").size();
  const std::string prefix = folder_ + "/";
  const std::string fits = std::string(room - prefix.size(), 'a');
  EXPECT_EQ(TRunInputs::Problem(Make(fits + ".fdb")), "");
  const std::string problem = TRunInputs::Problem(Make(fits + "b.fdb"));
  EXPECT_EQ(problem.find("O caminho do banco de dados é longo demais"), 0u) << problem;
}

TEST_F(RunInputs, ALinkIsFollowedToTheRealFile) {
  const std::string real = Make("dados/empresa.fdb");
  const std::string link = folder_ + "/ATALHO.FDB";
  fs::create_symlink(real, link);
  EXPECT_EQ(TRunInputs::ResolvedDatabasePath(link), fs::canonical(real).string());
  EXPECT_EQ(TRunInputs::Problem(link), "");
}

}  // namespace

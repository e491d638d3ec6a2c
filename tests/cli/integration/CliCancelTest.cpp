// Ctrl+C (SIGINT), SIGTERM or SIGHUP sent to tessarine-cli while the server
// works on a damaged database big enough that its backup and restore take
// seconds: the program must end with status 4 promptly (or right after a
// restore or validation the server cannot stop), the database attachable with
// its rows, the working copy as it was, no half-written file, the report
// saying so, and nothing left open on the server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/ChildProcess.h"
#include "support/DamagedFixture.h"
#include "support/FixtureDatabase.h"
#include "support/ServerLeftovers.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::ChildProcess;
using testsupport::DamagedFixture;
using testsupport::FixtureDatabase;
using testsupport::ServerLeftovers;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCancelledStatus = 4;

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

struct CliCancelCase {
  const char* name;
  const char* stepLine;    // the program prints it as the step begins
  int delayMs;             // then the interrupt comes after this long
  std::set<int> cutSteps;  // steps the interrupt may land in
  bool waitsForServer;     // a restore or validation is waited for
  int signal = SIGINT;
};

class CliCancel : public ::testing::TestWithParam<CliCancelCase> {
 protected:
  static void SetUpTestSuite() {
    models_ = std::make_unique<TestFolder>("tessarine-cli-cancel-models");
    DamagedFixture::Options options;
    options.bulkRows = 250000;
    fixture_ = std::make_unique<DamagedFixture>(models_->Path(), options);
    const auto start = Clock::now();
    ServerTools::Restore(fixture_->OlderBackup(), models_->Path() + "/ENSAIO.FDB");
    restoreSeconds_ = Seconds(Clock::now() - start);
    fs::remove(models_->Path() + "/ENSAIO.FDB");
  }
  static void TearDownTestSuite() {
    fixture_.reset();
    models_.reset();
  }

  static std::unique_ptr<TestFolder> models_;
  static std::unique_ptr<DamagedFixture> fixture_;
  static double restoreSeconds_;
  TestFolder folder_;
};

std::unique_ptr<TestFolder> CliCancel::models_;
std::unique_ptr<DamagedFixture> CliCancel::fixture_;
double CliCancel::restoreSeconds_ = 0;

TEST_P(CliCancel, InterruptEndsTheRunCleanly) {
  const CliCancelCase& cut = GetParam();
  const std::string database = folder_.File("EMPRESA.FDB");
  fixture_->PlaceAt(database);
  struct stat original {};
  ASSERT_EQ(0, ::stat(database.c_str(), &original));
  const std::string summaryPath = folder_.File("resumo.json");

  ChildProcess cli(
      {TESSARINE_CLI, "--yes", "--json", summaryPath, database, fixture_->OlderBackup()});
  ASSERT_TRUE(cli.WaitForOutput(cut.stepLine, std::chrono::minutes(1))) << cli.Output();
  std::this_thread::sleep_for(std::chrono::milliseconds(cut.delayMs));
  cli.Signal(cut.signal);
  const double allowed = 5 + (cut.waitsForServer ? 2 * restoreSeconds_ : 0);
  const std::optional<int> status = cli.WaitForExit(std::chrono::milliseconds(int(allowed * 1000)));
  ASSERT_TRUE(status.has_value()) << "still running " << allowed << " s after the signal\n"
                                  << cli.Output();
  EXPECT_EQ(kCancelledStatus, *status) << cli.Output();
  EXPECT_NE(std::string::npos, cli.Output().find("A execução foi cancelada.")) << cli.Output();

  std::ifstream file(summaryPath);
  const nlohmann::json summary = nlohmann::json::parse(file);
  EXPECT_EQ("cancelled", summary.at("verdict"));
  const nlohmann::json& last = summary.at("steps").back();
  EXPECT_EQ("cancelled", last.at("outcome")) << summary.dump(1);
  EXPECT_TRUE(cut.cutSteps.contains(last.at("number").get<int>())) << summary.dump(1);
  std::ifstream report(summary.at("report").get<std::string>());
  const std::string reportText(std::istreambuf_iterator<char>(report), {});
  EXPECT_NE(std::string::npos, reportText.find("A execução foi cancelada.")) << reportText;

  // The user's file, attachable with its rows; the copy as it was.
  struct stat after {};
  ASSERT_EQ(0, ::stat(database.c_str(), &after));
  EXPECT_EQ(original.st_ino, after.st_ino);
  const FixtureDatabase db(database);
  for (const char* table : {"GRANDE", "PEDIDOS", "NOTAS", "AVULSOS"}) {
    EXPECT_EQ(fixture_->CountsBefore().at(table), db.Count(table)) << table;
  }
  EXPECT_TRUE(fixture_->HasTheDamagedContent(folder_.File("EMPRESA (Copia).FDB")));

  // What appeared is what the summary lists, and none of it is half done.
  std::set<std::string> made;
  for (const auto& path : summary.at("filesMade")) {
    made.insert(path.get<std::string>());
  }
  for (const auto& entry : fs::directory_iterator(folder_.Path())) {
    const std::string path = entry.path().string();
    const std::string name = entry.path().filename().string();
    if (path == database || path == summaryPath || name.ends_with(".txt")) {
      continue;
    }
    EXPECT_TRUE(made.contains(path)) << path << "\n" << cli.Output();
    if (last.at("number") == 5) {
      EXPECT_FALSE(name.ends_with(".fbk")) << name;
    }
    if (last.at("number") == 6) {
      EXPECT_TRUE(!name.ends_with(".FDB") || name == "EMPRESA (Copia).FDB") << name;
    }
  }
  EXPECT_EQ(std::vector<std::string>(),
            ServerLeftovers::WaitUntilNoneHeldUnder(folder_.Path(), 1000))
      << cli.Output();
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CliCancel,
    ::testing::Values(CliCancelCase{"Validation", "[ 3/11]", 0, {3}, true},
                      CliCancelCase{"Backup", "[ 5/11]", 100, {5}, false},
                      CliCancelCase{"BackupTerminated", "[ 5/11]", 100, {5}, false, SIGTERM},
                      CliCancelCase{"BackupHungUp", "[ 5/11]", 100, {5}, false, SIGHUP},
                      CliCancelCase{"Restore", "[ 6/11]", 200, {6}, true},
                      // The search is short: the interrupt may reach the salvage.
                      CliCancelCase{"OrphanSearch", "[ 7/11]", 0, {7, 8}, true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

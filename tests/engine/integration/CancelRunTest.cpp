// The operator's cancel against the running server, on a damaged database big
// enough that its backup and restore take seconds: cut during the validation,
// the backup, the restore, the orphan search and the final swap. Each cut
// must end the run promptly (a restore or validation the server cannot stop
// is waited for), leave the user's database attachable with its rows and the
// working copy as it was, no half-written file, and nothing open on the server.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/files/DerivedNames.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/DamagedFixture.h"
#include "support/FixtureDatabase.h"
#include "support/NoticeHost.h"
#include "support/ServerLeftovers.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::DamagedFixture;
using testsupport::FixtureDatabase;
using testsupport::ServerLeftovers;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kCancelled = "A execução foi cancelada.";
const char* const kStillIn = "O banco de dados informado continua em: ";
constexpr int kBulkRows = 250000;

ino_t Inode(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 ? info.st_ino : 0;
}

double Seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// Where the run is cut, and how long it may take to end afterwards.
struct CancelCase {
  const char* name;
  int step;             // the step reported "Cancelado"
  const char* trigger;  // transcript line (prefix) after which the cancel comes
  bool onEngineThread;  // cancel inside that very call, not from the test's thread
  enum Wait { Prompt, ForRestore, ForValidation } wait;
};

class CancelRun : public ::testing::TestWithParam<CancelCase> {
 protected:
  static void SetUpTestSuite() {
    models_ = std::make_unique<TestFolder>("tessarine-cancel-models");
    DamagedFixture::Options options;
    options.bulkRows = kBulkRows;
    fixture_ = std::make_unique<DamagedFixture>(models_->Path(), options);
    // What the server takes for this database, to bound the waits.
    auto start = Clock::now();
    ServerTools::Validate(models_->Path() + "/MODELO.FDB");
    validationSeconds_ = Seconds(Clock::now() - start);
    start = Clock::now();
    ServerTools::Restore(fixture_->OlderBackup(), models_->Path() + "/ENSAIO.FDB");
    restoreSeconds_ = Seconds(Clock::now() - start);
    fs::remove(models_->Path() + "/ENSAIO.FDB");
  }
  static void TearDownTestSuite() {
    fixture_.reset();
    models_.reset();
  }

  double AllowedSeconds(CancelCase::Wait wait) const {
    switch (wait) {
      case CancelCase::ForRestore:
        return 5 + 2 * restoreSeconds_;
      case CancelCase::ForValidation:
        return 5 + 2 * validationSeconds_;
      case CancelCase::Prompt:
        break;
    }
    return 5;
  }

  static std::unique_ptr<TestFolder> models_;
  static std::unique_ptr<DamagedFixture> fixture_;
  static double validationSeconds_;
  static double restoreSeconds_;
  TestFolder folder_;
};

std::unique_ptr<TestFolder> CancelRun::models_;
std::unique_ptr<DamagedFixture> CancelRun::fixture_;
double CancelRun::validationSeconds_ = 0;
double CancelRun::restoreSeconds_ = 0;

TEST_P(CancelRun, EndsSoonAndLeavesTheDatabaseWholeAndNothingHalfDone) {
  const CancelCase& cut = GetParam();
  const std::string database = folder_.File("EMPRESA.FDB");
  fixture_->PlaceAt(database);
  const ino_t inode = Inode(database);
  const auto before = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder_.Path()))
      names.insert(entry.path().filename().string());
    return names;
  }();

  NoticeHost host;
  std::atomic<TThreadRecovery*> running{nullptr};
  std::atomic<Clock::rep> cancelledAt{0};
  const auto cancel = [&] {
    cancelledAt = Clock::now().time_since_epoch().count();
    running.load()->Cancel();
  };
  if (cut.onEngineThread) {
    host.OnCall(cut.trigger, cancel);
  }
  {
    TThreadRecovery recovery(host, database, fixture_->OlderBackup(), TFirebirdSteps::Create);
    running = &recovery;
    if (!cut.onEngineThread) {
      ASSERT_TRUE(host.WaitForCall(cut.trigger, std::chrono::minutes(1)))
          << "never reached " << cut.trigger << "\n"
          << host.TranscriptText();
      cancel();
    }
    if (!recovery.WaitFor(std::chrono::minutes(3))) {
      recovery.Cancel();
      recovery.WaitFor(std::chrono::minutes(3));
      FAIL() << "the run did not end\n" << host.TranscriptText();
    }
    ASSERT_NE(0, cancelledAt.load()) << "the run ended before the cut\n" << host.TranscriptText();
    const double took =
        Seconds(Clock::now() - Clock::time_point(Clock::duration(cancelledAt.load())));
    EXPECT_LE(took, AllowedSeconds(cut.wait)) << host.TranscriptText();
    EXPECT_EQ(RunVerdict::Cancelled, recovery.Verdict());
    // Nothing of the run is attached or running on the server any more.
    EXPECT_EQ(std::vector<std::string>(),
              ServerLeftovers::WaitUntilNoneHeldUnder(folder_.Path(), 1000));
    EXPECT_EQ(0, ServerLeftovers::ConnectionsOfThisProcess());
  }

  // The cut step says so, and no later step began.
  const auto cancelledSteps = host.Calls("ReportStep " + std::to_string(cut.step) + " 2 30 ");
  EXPECT_EQ(1u, cancelledSteps.size()) << host.TranscriptText();
  EXPECT_TRUE(host.Calls("ReportStep " + std::to_string(cut.step + 1) + " 1").empty());
  const std::string closing = host.ClosingMessage();
  EXPECT_EQ(0u, closing.find(kCancelled)) << closing;

  // The working copy is the damaged database as given.
  EXPECT_TRUE(fixture_->HasTheDamagedContent(folder_.File("EMPRESA (Copia).FDB")));
  const std::string old = OldPathFor(database);
  if (Inode(database) == inode) {
    // The user's own file, attachable with its rows.
    EXPECT_FALSE(fs::exists(old));
    const FixtureDatabase db(database);
    for (const char* table : {"GRANDE", "PEDIDOS", "NOTAS", "AVULSOS"}) {
      EXPECT_EQ(fixture_->CountsBefore().at(table), db.Count(table)) << table;
    }
    EXPECT_NE(std::string::npos, closing.find(kStillIn + database)) << closing;
  } else {
    // Cut once the names had changed: the repaired database is in place,
    // the original beside it, and the message says where each is.
    EXPECT_EQ(inode, Inode(old));
    const FixtureDatabase db(database);
    EXPECT_EQ(kBulkRows, db.Count("GRANDE"));
    EXPECT_EQ("0", db.Value("select count(*) from PEDIDOS p where not exists"
                            " (select 1 from CLIENTES c where c.ID = p.CLIENTE_ID)"));
    EXPECT_NE(std::string::npos, closing.find(old)) << closing;
    EXPECT_EQ(std::string::npos, closing.find(kStillIn + database))
        << "the message says the original is still at the path it was moved from:\n"
        << closing;
  }
  EXPECT_FALSE(fs::exists(NewDatabasePathFor(database)));

  // No half-written file: what appeared is what the message lists, each
  // whole (a backup or restore cut short is removed).
  for (const auto& entry : fs::directory_iterator(folder_.Path())) {
    const std::string name = entry.path().filename().string();
    if (before.contains(name)) {
      continue;
    }
    EXPECT_NE(std::string::npos, closing.find(entry.path().string())) << name << "\n" << closing;
    if (cut.step == 5) {
      EXPECT_FALSE(name.ends_with(".fbk")) << name;
    }
    if (cut.step == 6) {
      EXPECT_TRUE(!name.ends_with(".FDB") || name == "EMPRESA (Copia).FDB") << name;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Steps, CancelRun,
    ::testing::Values(CancelCase{"Validation", 3, "ReportStep 3 1", false,
                                 CancelCase::ForValidation},
                      CancelCase{"Backup", 5, "WriteLog -1 gbak:    writing data for table GRANDE",
                                 false, CancelCase::Prompt},
                      CancelCase{"Restore", 6, "WriteLog -1 gbak:restoring data for table GRANDE",
                                 false, CancelCase::ForRestore},
                      CancelCase{"OrphanSearch", 7, "ReportStep 7 1", true, CancelCase::Prompt},
                      // The final restore has ended: the next thing is the swap of names.
                      CancelCase{"FinalSwap", 10, "SnapshotStepLog 10", true, CancelCase::Prompt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

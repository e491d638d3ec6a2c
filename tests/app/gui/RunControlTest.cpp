// The window's run control: the end of a run arrives once, as a queued
// signal after the run's thread has ended, and a run started while the last
// one's thread is still ending waits for that end instead of blocking.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <atomic>
#include <chrono>

#include "GuiTestSupport.h"
#include "app/TRunControl.h"

namespace {

using namespace std::chrono_literals;

class RunControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    database_ = folder_.filePath(QStringLiteral("empresa.fdb"));
    QFile file(database_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    backup_ = folder_.filePath(QStringLiteral("antigo.fbk"));
  }

  // Step routines of runs that stop at step 1 (the database is in use).
  TThreadRecovery::StepsFactory InUseRuns() {
    return [this](TRecoveryContext& context) -> std::unique_ptr<IRecoverySteps> {
      ++runsCreated_;
      auto steps = std::make_unique<ScriptedSteps>(context);
      steps->Script("acessoExclusivo", false);
      return steps;
    };
  }

  QTemporaryDir folder_;
  QString database_;
  QString backup_;
  std::atomic<int> runsCreated_{0};
  ScriptedWindow w_;
};

TEST_F(RunControlTest, TheEndOfARunArrivesOnceAfterItsThreadHasEnded) {
  TRunControl control(w_.Window(), InUseRuns());
  int ends = 0;
  bool finishedAtEnd = false;
  QObject::connect(&control, &TRunControl::runEnded, [&] {
    ++ends;
    finishedAtEnd = control.Engine() != nullptr && control.Engine()->Finished();
  });
  control.Start(database_, backup_);
  ASSERT_NE(control.Engine(), nullptr);
  EXPECT_TRUE(control.Going());
  ASSERT_TRUE(WaitUntil([&] { return ends > 0; }));
  EXPECT_TRUE(finishedAtEnd);
  EXPECT_FALSE(control.Going());
  EXPECT_EQ(control.Engine()->Verdict(), RunVerdict::InUse);
  WaitUntil([] { return false; }, 100ms);
  EXPECT_EQ(ends, 1);

  // A second run from the same control ends on its own signal.
  control.Start(database_, backup_);
  ASSERT_TRUE(WaitUntil([&] { return ends == 2; }));
  WaitUntil([] { return false; }, 100ms);
  EXPECT_EQ(ends, 2);
  EXPECT_EQ(runsCreated_.load(), 2);
}

TEST_F(RunControlTest, ExecutarWhileTheLastRunShowsItsClosingMessageStartsTheNextAtItsEnd) {
  int runs = 0;
  w_.ScriptSteps([&runs](ScriptedSteps& steps) {
    ++runs;
    steps.Script("acessoExclusivo", false);
  });
  w_.ChooseDatabase(database_);
  w_.PickFiles({backup_});
  w_.Window().btnSelecionarBackupClick();
  // The closing message is on screen, so the run's thread has not ended:
  // Executar again (its button is enabled by then).
  bool firstGoingWhenPressed = false;
  int runsWhenPressed = 0;
  w_.OnBox([&](const ShownBox&) {
    firstGoingWhenPressed = !w_.Window().Engine()->Finished();
    w_.Window().Executar();
    runsWhenPressed = runs;
  });
  w_.Window().Executar();
  ASSERT_TRUE(WaitUntil([&] { return w_.Boxes().size() == 2; }));
  ASSERT_TRUE(w_.WaitForRunEnd());
  EXPECT_TRUE(firstGoingWhenPressed);
  EXPECT_EQ(runsWhenPressed, 1) << "the next run started before the last had ended";
  EXPECT_EQ(runs, 2);
  for (const ShownBox& box : w_.Boxes()) {
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("O banco de dados estava em uso")))
        << box.text.toStdString();
  }
  EXPECT_EQ(w_.Window().Engine()->Verdict(), RunVerdict::InUse);
}

}  // namespace

// The run on a thread of its own, as the window starts it.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TThreadRecovery.h"
#include "support/ScriptedHost.h"
#include "support/ScriptedSteps.h"

using ::testing::ElementsAre;
using namespace std::chrono_literals;

namespace {

// Holds the closing message open until the test releases it.
class GatedHost : public ScriptedHost {
 public:
  MessageAnswer AskUser(const Question& question) override {
    const MessageAnswer answer = ScriptedHost::AskUser(question);
    std::unique_lock<std::mutex> lock(gate_);
    opened_.wait(lock, [this] { return open_; });
    return answer;
  }
  void Open() {
    {
      std::lock_guard<std::mutex> lock(gate_);
      open_ = true;
    }
    opened_.notify_all();
  }

 private:
  std::mutex gate_;
  std::condition_variable opened_;
  bool open_ = false;
};

// A front end whose window went away while a question was open.
class ClosingHost : public ScriptedHost {
 public:
  MessageAnswer AskUser(const Question& question) override {
    ScriptedHost::AskUser(question);
    throw ERunAborted();
  }
};

// Step routines whose exclusive access does `action` and nothing else.
TThreadRecovery::StepsFactory FirstStepDoes(ScriptedSteps::Action action) {
  return [action](TRecoveryContext& context) {
    auto steps = std::make_unique<ScriptedSteps>(context);
    steps->Script("acessoExclusivo", action);
    return steps;
  };
}

TEST(ThreadRecovery, RunsOnItsOwnThreadAndFinishesAfterTheClosingMessage) {
  GatedHost host;
  host.Answer(MessageAnswer::Ok);
  std::thread::id factoryThread;
  std::thread::id routineThread;
  TThreadRecovery run(host, "/srv/dados/empresa.fdb", "", [&](TRecoveryContext& context) {
    factoryThread = std::this_thread::get_id();
    auto steps = std::make_unique<ScriptedSteps>(context);
    steps->Script("acessoExclusivo", [&](TRecoveryContext&) {
      routineThread = std::this_thread::get_id();
      return false;
    });
    return steps;
  });
  EXPECT_EQ(factoryThread, std::this_thread::get_id());

  ASSERT_TRUE(host.WaitForCall("AskUser", 10s));
  EXPECT_FALSE(run.WaitFor(50ms));
  EXPECT_FALSE(run.Finished());
  host.Open();
  ASSERT_TRUE(run.WaitFor(10s));
  EXPECT_TRUE(run.Finished());
  EXPECT_NE(routineThread, std::this_thread::get_id());
  EXPECT_THAT(host.Transcript().back(),
              ::testing::StartsWith("AskUser Information Ok O banco de dados estava em uso e "
                                    "não pôde ser validado.\r\r"));
}

TEST(ThreadRecovery, TheRunsRecordReachesTheFrontEndAsItsDisplayEndsAndStaysWithTheRun) {
  GatedHost host;
  host.Answer(MessageAnswer::Ok);
  TThreadRecovery run(host, "/srv/dados/empresa.fdb", "", FirstStepDoes([](TRecoveryContext& c) {
                        c.WriteLog("outro programa conectado");
                        return false;
                      }));
  ASSERT_TRUE(host.WaitForCall("AskUser", 10s));
  // Handed over before the closing message; the run's own copy only at its end.
  const std::shared_ptr<const TRunRecord> shown = host.Record();
  ASSERT_NE(shown, nullptr);
  EXPECT_EQ(run.Record(), nullptr);
  host.Open();
  ASSERT_TRUE(run.WaitFor(10s));
  const std::shared_ptr<const TRunRecord> kept = run.Record();
  ASSERT_NE(kept, nullptr);

  const std::vector<std::string> rows = host.Calls("ReportStep 1 2 ");
  ASSERT_EQ(rows.size(), 1u);
  for (const TRunRecord* record : {shown.get(), kept.get()}) {
    const TRunRecord::Step& first = record->Steps().front();
    EXPECT_EQ(first.phase, StepPhase::Finished);
    EXPECT_EQ(first.outcome, StepOutcome::Failure);
    EXPECT_EQ(rows[0], "ReportStep 1 2 20 " + first.text);
    ASSERT_FALSE(first.logs.empty());
    EXPECT_THAT(first.logs.back(), ::testing::Contains("outro programa conectado"));
    EXPECT_FALSE(record->Steps()[1].reported);
  }
  // The closing message was answered after the hand-over: only the run's copy has it.
  ASSERT_EQ(kept->Questions().size(), shown->Questions().size() + 1);
  EXPECT_EQ(kept->Questions().back().answer, "OK");
}

TEST(ThreadRecovery, DefaultRoutinesAreTheFirebirdOnes) {
  ScriptedHost host;
  TRecoveryContext context(host, "/srv/dados/empresa.fdb", "");
  const std::unique_ptr<IRecoverySteps> steps = TFirebirdSteps::Create(context);
  EXPECT_NE(dynamic_cast<TFirebirdSteps*>(steps.get()), nullptr);
  EXPECT_TRUE(host.Transcript().empty());
}

TEST(ThreadRecovery, FrontEndGoneEndsTheRunWithoutFurtherCalls) {
  ClosingHost host;
  host.Answer(MessageAnswer::Yes);
  TThreadRecovery run(host, "/srv/dados/empresa.fdb", "", FirstStepDoes([](TRecoveryContext& c) {
                        return c.Ask(QuestionId::RetryActiveConnections, "Deseja tentar novamente?",
                                     MessageKind::Confirmation) == MessageAnswer::Yes;
                      }));
  ASSERT_TRUE(run.WaitFor(10s));
  const std::vector<std::string> transcript = host.Transcript();
  EXPECT_EQ(transcript.back(), "AskUser Confirmation YesNo Deseja tentar novamente?");
}

TEST(ThreadRecovery, RefusesAMissingFactory) {
  ScriptedHost host;
  EXPECT_THROW(TThreadRecovery(host, "/d/e.fdb", "", nullptr), std::invalid_argument);
  EXPECT_THROW(TThreadRecovery(host, "/d/e.fdb", "",
                               [](TRecoveryContext&) { return std::unique_ptr<IRecoverySteps>(); }),
               std::invalid_argument);
  EXPECT_TRUE(host.Transcript().empty());
}

}  // namespace

// The scripted front end that tests of the run rely on.

#include <gmock/gmock.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "engine/run/TRecoveryContext.h"
#include "support/ScriptedHost.h"

using ::testing::ElementsAre;

namespace {

MessageAnswer Ask(ScriptedHost& host, const std::string& text, MessageKind kind,
                  MessageButtons buttons) {
  return host.AskUser(Question{QuestionId::Notice, text, kind, buttons, MessageAnswer::Ok});
}

TEST(ScriptedHost, UnscriptedOrMismatchedQuestionsFailTheTestAndAnswerSafely) {
  ScriptedHost host;
  MessageAnswer answer = MessageAnswer::Yes;
  EXPECT_NONFATAL_FAILURE(
      answer = Ask(host, "Continua?", MessageKind::Information, MessageButtons::YesNo),
      "Unscripted question: Continua?");
  EXPECT_EQ(answer, MessageAnswer::No);

  host.Answer(MessageAnswer::Yes, "Sobrescrever");
  EXPECT_NONFATAL_FAILURE(Ask(host, "Continua?", MessageKind::Confirmation, MessageButtons::YesNo),
                          "expected to contain \"Sobrescrever\"");

  host.Answer(MessageAnswer::Yes);
  EXPECT_NONFATAL_FAILURE(answer = Ask(host, "Fim.", MessageKind::Information, MessageButtons::Ok),
                          "does not fit the buttons");
  EXPECT_EQ(answer, MessageAnswer::Ok);
}

TEST(ScriptedHost, AnswersByQuestionIdComeBeforeTheAnswersInOrder) {
  ScriptedHost host;
  host.AnswerTo(QuestionId::RetryActiveConnections, MessageAnswer::No);
  host.Answer(MessageAnswer::Yes, "Continua");
  const auto ask = [&](QuestionId id, const std::string& text) {
    return host.AskUser(
        Question{id, text, MessageKind::Confirmation, MessageButtons::YesNo, MessageAnswer::Yes});
  };
  EXPECT_EQ(ask(QuestionId::RetryActiveConnections, "Tentar de novo?"), MessageAnswer::No);
  EXPECT_EQ(ask(QuestionId::RetryActiveConnections, "Tentar de novo?"), MessageAnswer::No);
  EXPECT_EQ(ask(QuestionId::ContinueUnverifiedAccess, "Continua?"), MessageAnswer::Yes);
  // Rows from the older backup take their default unless named.
  EXPECT_EQ(ask(QuestionId::RowsFromBackup, "Inserir?"), MessageAnswer::Yes);
  host.ScriptRowsFromBackup(MessageAnswer::No);
  EXPECT_EQ(ask(QuestionId::RowsFromBackup, "Inserir?"), MessageAnswer::No);
  EXPECT_EQ(host.UnusedAnswers(), 0u);
  EXPECT_EQ(host.Questions().size(), 5u);
}

TEST(ScriptedHost, RecordsCallsAndMirrorsTheLogView) {
  ScriptedHost host;
  host.ScriptBackupChoice(std::nullopt);
  host.ScriptBackupChoice("/b/antigo.fbk");
  TRecoveryContext context(host, "/b/x.fdb", "/b/x.fbk");
  host.Notify(RunBegan{});
  host.Notify(LogAppended{"um"});
  host.Notify(LogAppended{"dois"});
  host.Notify(LogProgress{1, "2%"});
  host.Notify(StepLogFiled{StepKey::RestaurarBancoNivel01});
  host.Notify(LogCleared{});
  context.AskForBackupFile();
  EXPECT_EQ(context.BackupPath(), "/b/x.fbk");
  context.AskForBackupFile();
  EXPECT_NONFATAL_FAILURE(host.Notify(LogProgress{3, "x"}),
                          "WriteLog replaces line 3 of a log of 0");

  EXPECT_THAT(host.SavedLog(6), ElementsAre("um", "2%"));
  EXPECT_TRUE(host.SavedLog(5).empty());
  EXPECT_TRUE(host.LogLines().empty());
  EXPECT_EQ(context.BackupPath(), "/b/antigo.fbk");
  EXPECT_THAT(host.Transcript(),
              ElementsAre("BeginRunDisplay", "WriteLog -1 um", "WriteLog -1 dois", "WriteLog 1 2%",
                          "SnapshotStepLog 6", "ClearLog",
                          "AskUser Confirmation YesNo Deseja escolher um arquivo?",
                          "AskUser Confirmation YesNo Deseja escolher um arquivo?",
                          "ChooseBackupFile /b -> /b/antigo.fbk", "WriteLog 3 x"));
}

}  // namespace

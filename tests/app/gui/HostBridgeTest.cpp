// The bridge that carries the engine's calls to the window, and whole runs
// driven through it with scripted step routines.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <thread>

#include "GuiTestSupport.h"
#include "app/TWindowHost.h"
#include "engine/files/DerivedNames.h"
#include "engine/run/ERunAborted.h"
#include "engine/run/TRecoveryContext.h"

namespace {

Question Q(const std::string& text, MessageKind kind, MessageButtons buttons) {
  return Question{QuestionId::Notice, text, kind, buttons,
                  buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes};
}

// Runs `work` on a thread of its own while the UI thread serves hand-overs.
template <typename Work>
auto OnEngineThread(Work work) {
  auto result = std::async(std::launch::async, std::move(work));
  EXPECT_TRUE(WaitUntil(
      [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
  return result.get();
}

TEST(HostBridgeTest, CallsFromAnotherThreadRunOnTheUiThreadInOrder) {
  ScriptedWindow w;
  // The run's context, as a run reaches the window: the rows' links come
  // from its record.
  TRecoveryContext run(w.Window().Host(), "/srv/empresa.fdb", "");
  w.AnswerBoxes({MessageAnswer::Yes});
  const MessageAnswer answer = OnEngineThread([&] {
    run.Host().BeginRunDisplay();
    run.ReportStep(StepKey::ValidarDados, StepPhase::Running, StepOutcome::None, "");
    run.ClearLog();
    run.WriteLog("Validation started");
    run.WriteLog("Summary of validation errors");
    run.WriteLog("Validation ended", 1);
    run.SnapshotStepLog(StepKey::ValidarDados);
    run.ReportStep(StepKey::ValidarDados, StepPhase::Finished, StepOutcome::Failure,
                   "Erros encontrados");
    run.Host().EnterLevel(2);
    const MessageAnswer reply =
        run.AskUser(Q("Continua?", MessageKind::Information, MessageButtons::YesNo));
    run.Host().EndRunDisplay();
    return reply;
  });
  EXPECT_EQ(answer, MessageAnswer::Yes);
  // The last event is not waited for: it is served soon after.
  EXPECT_TRUE(WaitUntil([&] { return w.Find<QPushButton>("btnExecutar")->isEnabled(); }));
  EXPECT_EQ(w.Find<QLabel>("lbValidarDadosResult")->text(), QStringLiteral("Erros encontrados"));
  EXPECT_FALSE(w.Find<QLabel>("lbValidarDadosLog")->isHidden());
  EXPECT_EQ(w.Window().SavedStepLog(StepKey::ValidarDados),
            (QStringList{"Validation started", "Validation ended"}));
  EXPECT_TRUE(w.Find<QLabel>("lbNivel02")->isEnabled());
  EXPECT_TRUE(w.Find<QPushButton>("btnExecutar")->isEnabled());
  ASSERT_EQ(w.Boxes().size(), 1u);
  EXPECT_EQ(w.Boxes()[0].kind, MessageKind::Information);
}

TEST(HostBridgeTest, EventsNeverWaitForTheUiThread) {
  ScriptedWindow w;
  TRecoveryContext run(w.Window().Host(), "/srv/empresa.fdb", "");
  // The UI thread serves nothing while the engine thread hands over a
  // server's whole output: every event returns at once.
  std::thread engine([&] {
    run.ReportStep(StepKey::FazerBackupNivel01, StepPhase::Running, StepOutcome::None, "");
    run.ClearLog();
    for (int line = 0; line < 1000; ++line) {
      run.WriteLog("gbak: linha " + std::to_string(line));
    }
    run.WriteLog("gbak: fim", 999);
    run.SnapshotStepLog(StepKey::FazerBackupNivel01);
  });
  engine.join();
  EXPECT_TRUE(w.Find<QPlainTextEdit>("log")->toPlainText().isEmpty());

  // Served later, in order.
  ASSERT_TRUE(WaitUntil(
      [&] { return w.Window().SavedStepLog(StepKey::FazerBackupNivel01).size() == 1000; }));
  const QStringList saved = w.Window().SavedStepLog(StepKey::FazerBackupNivel01);
  EXPECT_EQ(saved.front(), QStringLiteral("gbak: linha 0"));
  EXPECT_EQ(saved.back(), QStringLiteral("gbak: fim"));
  EXPECT_EQ(w.Find<QLabel>("lbFazerBackupNivel01Result")->text(), QStringLiteral("..."));
}

TEST(HostBridgeTest, ARowsLogShownWhileTheRunGoesOnIsOneWholeFiling) {
  ScriptedWindow w;
  TRecoveryContext run(w.Window().Host(), "/srv/empresa.fdb", "");
  constexpr int kFilings = 300;
  std::atomic<bool> done{false};
  // The engine files the step's output again and again, as a backup that
  // is retried does, while the window shows the row's log: paced, without
  // any hand-over that would order them, so that the window reads between
  // filings (ThreadSanitizer then sees a filing that changes lines shown).
  std::thread engine([&] {
    run.ReportStep(StepKey::FazerBackupNivel01, StepPhase::Running, StepOutcome::None, "");
    run.ClearLog();
    for (int filing = 1; filing <= kFilings; ++filing) {
      run.WriteLog("gbak: linha " + std::to_string(filing));
      run.SnapshotStepLog(StepKey::FazerBackupNivel01);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    done = true;
  });
  auto* log = w.Find<QPlainTextEdit>("log");
  QStringList shown;
  bool whole = true;
  const bool allShown = WaitUntil([&] {
    w.Window().ClicarLog(StepKey::FazerBackupNivel01);
    const QStringList before = shown;
    shown =
        log->toPlainText().isEmpty() ? QStringList() : log->toPlainText().split(QLatin1Char('\n'));
    // Never torn, never an older filing after a newer one.
    for (int line = 0; line < shown.size(); ++line) {
      whole = whole && shown[line] == QStringLiteral("gbak: linha %1").arg(line + 1);
    }
    whole = whole && shown.size() >= before.size();
    return !whole || (done && shown.size() == kFilings);
  });
  engine.join();
  EXPECT_TRUE(allShown);
  EXPECT_TRUE(whole) << shown.join(QLatin1Char('|')).toStdString();
}

TEST(HostBridgeTest, ChooseBackupFilePicksOrGivesNothing) {
  ScriptedWindow w;
  TWindowHost& host = w.Window().Host();

  w.PickFiles({QStringLiteral("/srv/Backup Bom.FBK")});
  EXPECT_EQ(OnEngineThread([&] { return host.ChooseBackupFile("/srv"); }),
            std::optional<std::string>("/srv/Backup Bom.FBK"));
  EXPECT_EQ(w.PickerFilters().last(), QStringLiteral("Firebird Backup (*.fbk)"));

  w.PickFiles({QString()});  // cancelled
  EXPECT_EQ(OnEngineThread([&] { return host.ChooseBackupFile("/srv"); }), std::nullopt);
  EXPECT_TRUE(w.Boxes().empty());
}

TEST(HostBridgeTest, EnterInARealBoxGivesTheQuestionsOwnDefault) {
  // No scripted boxes: the window shows real ones, answered with Enter.
  TFPrincipal window([](TRecoveryContext&) -> std::unique_ptr<IRecoverySteps> { return nullptr; });
  TWindowHost& host = window.Host();
  for (const MessageAnswer given : {MessageAnswer::No, MessageAnswer::Yes}) {
    QTimer press;  // polls: the box opens later, inside the hand-over
    QObject::connect(&press, &QTimer::timeout, [&press] {
      if (QWidget* box = QApplication::activeModalWidget()) {
        press.stop();
        QTest::keyClick(box, Qt::Key_Return);
      }
    });
    press.start(10);
    Question question{QuestionId::ContinueUnverifiedAccess, "Deseja continuar assim mesmo?",
                      MessageKind::Error, MessageButtons::YesNo, given};
    EXPECT_EQ(OnEngineThread([&] { return host.AskUser(question); }), given);
  }
}

TEST(HostBridgeTest, AfterTheWindowClosedEveryCallEndsTheRunAtOnce) {
  ScriptedWindow w;
  TWindowHost& host = w.Window().Host();
  w.Window().show();

  // A call already posted but not yet served when the window closes.
  std::atomic<bool> returned{false};
  std::atomic<bool> aborted{false};
  std::thread engine([&] {
    try {
      host.AskUser(Q("Continua?", MessageKind::Information, MessageButtons::YesNo));
    } catch (const ERunAborted&) {
      aborted = true;
    }
    returned = true;
  });
  QThread::msleep(50);  // the UI thread serves nothing meanwhile
  EXPECT_FALSE(returned);
  w.Window().close();
  engine.join();  // would hang if the call still waited for the UI thread
  EXPECT_TRUE(aborted);

  // Later calls do not wait either: none gives an answer nobody chose.
  std::thread later([&] {
    EXPECT_THROW(host.AskUser(Q("Fim", MessageKind::Information, MessageButtons::Ok)), ERunAborted);
    EXPECT_THROW(host.AskUser(Q("?", MessageKind::Error, MessageButtons::YesNo)), ERunAborted);
    EXPECT_THROW(host.Notify(StepChanged{StepKey::AcessoExclusivo, StepPhase::Running,
                                         StepOutcome::None, ""}),
                 ERunAborted);
    EXPECT_THROW(host.Notify(LogAppended{"linha"}), ERunAborted);
    EXPECT_THROW(host.Notify(RunEnded{}), ERunAborted);
    EXPECT_THROW(host.ChooseBackupFile("/srv"), ERunAborted);
  });
  later.join();
  // The posted work finds the window closed and shows nothing.
  WaitUntil([] { return false; }, std::chrono::milliseconds(50));
  EXPECT_TRUE(w.Boxes().empty());
  EXPECT_TRUE(w.Find<QLabel>("lbAcessoExclusivoStatus")->text().isEmpty());
}

class RunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    database_ = folder_.filePath(QStringLiteral("empresa.fdb"));
    QFile file(database_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    backup_ = folder_.filePath(QStringLiteral("antigo.fbk"));
  }

  void Start() {
    w_.ChooseDatabase(database_);
    w_.PickFiles({backup_});
    w_.Window().btnSelecionarBackupClick();
    w_.Window().Executar();
    ASSERT_NE(w_.Window().Engine(), nullptr);
  }

  QLabel* Label(const char* name) { return w_.Find<QLabel>(name); }

  QTemporaryDir folder_;
  QString database_;
  QString backup_;
  ScriptedWindow w_;
};

// An action that writes `lines` as a service routine does and files them
// under `key`.
ScriptedSteps::Action Service(std::vector<std::string> lines, int key, bool answer) {
  return [lines = std::move(lines), key, answer](TRecoveryContext& context) {
    context.ClearLog();
    for (const std::string& line : lines) {
      context.WriteLog(line);
    }
    context.SnapshotStepLog(StepAt(key));
    return answer;
  };
}

TEST_F(RunTest, LevelTwoRunEndsCorrectedWithRowsLinksAndSavedLogs) {
  w_.ScriptSteps([](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", true);
    steps.Script("doCopy", true);
    steps.Script("doValidate", Service({"Summary of validation errors"}, 3, false));
    steps.Script("doMend", Service({"mend"}, 4, true));
    steps.Script("doBackup", Service({"gbak: closing file, committing, and finishing"}, 5, true));
    steps.Script("doRestore",
                 Service({"gbak: ERROR:violation of FOREIGN KEY constraint \"FK_PEDIDO\" on table "
                          "\"PEDIDOS\"",
                          "gbak:finishing, closing, and going home"},
                         6, false));
    steps.Script("bringOnline", true);
    TInconsistency record;
    record.TableName = "CLIENTES";
    steps.ScriptRecord(std::optional<TInconsistency>(record));
    steps.Script("doCopyDataFromOldBackup", ScriptedSteps::Action([](TRecoveryContext& context) {
                   context.WriteLog("Banco temporário restaurado de backup!");
                   return true;
                 }));
    steps.Script("doBackup", Service({"backup 2"}, 9, true));
    steps.Script("doRestore", ScriptedSteps::Action([](TRecoveryContext& context) {
                   // The final restore writes a file of its own next to the database.
                   std::ofstream(NewDatabasePathFor(context.DatabasePath())) << "restaurado";
                   return Service({"restore 2"}, 10, true)(context);
                 }));
    steps.Script("bringOnline", true);
    steps.Script("doValidate", Service({"no errors found"}, 3, true));
  });
  Start();
  ASSERT_TRUE(w_.WaitForRunEnd());

  const std::vector<ShownBox> boxes = w_.Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_TRUE(boxes.back().text.startsWith(
      QStringLiteral("O banco de dados foi corrigido com sucesso.\r\rBanco corrompido: ")))
      << boxes.back().text.toStdString();
  EXPECT_EQ(boxes.back().kind, MessageKind::Information);

  EXPECT_EQ(Label("lbAcessoExclusivoResult")->text(), QStringLiteral("Acesso obtido."));
  EXPECT_EQ(Label("lbCriarCopiarResult")->text(), QStringLiteral("Cópia em: empresa (Copia).FDB"));
  EXPECT_EQ(Label("lbValidarDadosResult")->text(), QStringLiteral("Erros encontrados"));
  EXPECT_EQ(Label("lbRestaurarBancoNivel01Result")->text(),
            QStringLiteral("Restaurado, mas com erro."));
  EXPECT_EQ(Label("lbRecuperarDadosResult")->text(), QStringLiteral("Dados encontrados"));
  EXPECT_EQ(Label("lbValidacaoFinalResult")->text(), QStringLiteral("Banco não possui erros."));
  EXPECT_FALSE(Label("lbValidarDadosLog")->isHidden());
  EXPECT_FALSE(Label("lbRestaurarBancoNivel01Log")->isHidden());
  EXPECT_TRUE(Label("lbAcessoExclusivoLog")->isHidden());
  for (const char* name : {"lbNivel02", "lbProcurarOrfaos", "lbValidacaoFinalResult"}) {
    EXPECT_TRUE(Label(name)->isEnabled()) << name;
  }
  for (const char* name : {"lbAcessoExclusivoStatus", "lbValidacaoFinalStatus"}) {
    EXPECT_EQ(Label(name)->text(), TFPrincipal::CheckMark()) << name;
  }

  // After the run the log names the run's report only, and each step's
  // output sits behind its link.
  auto* log = w_.Find<QPlainTextEdit>("log");
  EXPECT_EQ(log->toPlainText(), QStringLiteral("Relatório: ") +
                                    QString::fromStdString(w_.Window().Engine()->ReportPath()));
  EXPECT_TRUE(w_.Find<QPushButton>("btnExecutar")->isEnabled());
  EXPECT_FALSE(w_.Find<QPushButton>("btnCancelar")->isEnabled());
  EXPECT_FALSE(Label("lbTempoTermino")->text().isEmpty());
  EXPECT_EQ(w_.Window().SavedStepLog(StepKey::PrepararBackup), QStringList{"mend"});
  EXPECT_EQ(w_.Window().SavedStepLog(StepKey::RestaurarBancoNivel02), QStringList{"restore 2"});
  EXPECT_EQ(w_.Window().SavedStepLog(StepKey::ValidarDados), QStringList{"no errors found"});
  w_.Window().ClicarLog(StepKey::RestaurarBancoNivel01);
  EXPECT_TRUE(
      log->toPlainText().startsWith(QStringLiteral("gbak: ERROR:violation of FOREIGN KEY")));
  w_.Window().ClicarLog(StepKey::ValidacaoFinal);
  EXPECT_EQ(log->toPlainText(), QStringLiteral("no errors found"));
  w_.Window().ClicarLog(StepKey::ProcurarOrfaos);
  EXPECT_FALSE(log->toPlainText().isEmpty());
}

TEST_F(RunTest, LinksOfTheFirstRowsShowTheQuestionOrErrorThatStoppedThem) {
  w_.ScriptSteps([](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext& context) {
                   return context.AskUser(Q("Existem outras conexões ativas.\rDeseja continuar?",
                                            MessageKind::Confirmation, MessageButtons::YesNo)) ==
                          MessageAnswer::Yes;
                 }));
  });
  w_.AnswerBoxes({MessageAnswer::No});
  Start();
  ASSERT_TRUE(w_.WaitForRunEnd());
  EXPECT_FALSE(Label("lbAcessoExclusivoLog")->isHidden());
  w_.Window().ClicarLog(StepKey::AcessoExclusivo);
  // The login line the step wrote, then the question that stopped it.
  const QString rowLog = w_.Find<QPlainTextEdit>("log")->toPlainText();
  EXPECT_TRUE(rowLog.startsWith(QStringLiteral("Login: usuário ")));
  EXPECT_TRUE(
      rowLog.endsWith(QStringLiteral("Existem outras conexões ativas.\nDeseja continuar?")));

  // A second run from the finished window: the copy fails with an exception.
  w_.ScriptSteps([](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", true);
    steps.ScriptThrow("doCopy", "disco cheio");
  });
  w_.Window().Executar();
  ASSERT_TRUE(w_.WaitForRunEnd());
  EXPECT_EQ(Label("lbCriarCopiarResult")->text(),
            QStringLiteral("Não foi possível realizar a cópia de segurança."));
  w_.Window().ClicarLog(StepKey::CriarCopia);
  EXPECT_TRUE(w_.Find<QPlainTextEdit>("log")->toPlainText().contains(
      QStringLiteral("doCopy() -> Excetion: disco cheio")));
  EXPECT_TRUE(w_.Boxes().back().text.startsWith(
      QStringLiteral("O banco de dados ainda não foi validade.")));
}

TEST_F(RunTest, EngineThatCannotBeCreatedEndsTheRunDisplayWithAnErrorBox) {
  TFPrincipal window([](TRecoveryContext&) -> std::unique_ptr<IRecoverySteps> {
    throw std::runtime_error("Biblioteca do cliente Firebird não encontrada");
  });
  std::vector<QString> texts;
  window.SetMessageBox([&](const QString& text, std::optional<MessageKind>, MessageButtons) {
    texts.push_back(text);
    return MessageAnswer::Ok;
  });
  window.SetOpenFilePicker([&](const QString& filter, const QString&) {
    return filter.contains(QLatin1String("fdb")) ? database_ : backup_;
  });
  window.btnSelecionarBancoCorrompidoClick();
  window.btnSelecionarBackupClick();
  window.Executar();
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0], QStringLiteral("Biblioteca do cliente Firebird não encontrada"));
  EXPECT_EQ(window.Engine(), nullptr);
  EXPECT_TRUE(window.findChild<QPushButton*>("btnExecutar")->isEnabled());
  EXPECT_FALSE(window.findChild<QPushButton*>("btnCancelar")->isEnabled());
}

TEST_F(RunTest, ClosingTheWindowDuringARunStopsTheRunBeforeItsNextStep) {
  std::atomic<bool> copied{false};
  w_.ScriptSteps([&](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", ScriptedSteps::Action([](TRecoveryContext& context) {
                   context.AskUser(Q("Existem outras conexões ativas.\rDeseja continuar?",
                                     MessageKind::Confirmation, MessageButtons::YesNo));
                   return true;
                 }));
    steps.Script("doCopy", [&](TRecoveryContext&) {
      copied = true;
      return true;
    });
  });
  w_.Window().show();
  // The user closes the window while the first question is on screen, and
  // answers Sim to the cancel question that brings.
  w_.OnBox([this](const ShownBox&) { w_.Window().close(); });
  w_.AnswerBoxes({MessageAnswer::Yes, MessageAnswer::Yes});
  Start();
  ASSERT_TRUE(WaitUntil([&] { return w_.Boxes().size() >= 2; }));
  EXPECT_EQ(w_.Boxes()[1].text, TFPrincipal::CancelQuestion());
  // From here on the UI thread serves nothing; the run must still end, and no
  // later step may run unseen.
  EXPECT_TRUE(w_.Window().EndRunOnExit(std::chrono::seconds(5)));
  EXPECT_FALSE(copied);
}

TEST_F(RunTest, ClosingTheWindowEndsARoutineThatAsksUntilItIsAnsweredYes) {
  // Like the salvage that restores the same older backup again while the
  // user answers No: without a window, nobody can ever answer Yes.
  std::atomic<int> asked{0};
  w_.ScriptSteps([&](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", ScriptedSteps::Action([&](TRecoveryContext& context) {
                   while (context.AskUser(Q("Deseja informar outro arquivo para restaurar?",
                                            MessageKind::Confirmation, MessageButtons::YesNo)) !=
                          MessageAnswer::Yes) {
                     ++asked;
                   }
                   return true;
                 }));
  });
  w_.Window().show();
  w_.OnBox([this](const ShownBox&) { w_.Window().close(); });
  // No to the routine's question, Sim to the cancel question of the close.
  w_.AnswerBoxes({MessageAnswer::No, MessageAnswer::Yes});
  Start();
  ASSERT_TRUE(WaitUntil([&] { return w_.Boxes().size() >= 2; }));
  EXPECT_TRUE(w_.Window().EndRunOnExit(std::chrono::seconds(5)));
  // The No already given comes back once; the routine's next question ends it.
  EXPECT_EQ(asked.load(), 1);
}

}  // namespace

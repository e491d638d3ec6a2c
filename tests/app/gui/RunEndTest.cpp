// How a run ends in the window: Cancelar, the close during a run and SIGTERM
// or SIGHUP to the process, the report behind "Salvar Log", and the folder
// the pickers open in.
#include <gtest/gtest.h>
#include <signal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "GuiTestSupport.h"
#include "app/TSignalNotifier.h"

namespace {

using namespace std::chrono_literals;

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class RunEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    database_ = folder_.filePath(QStringLiteral("empresa.fdb"));
    QFile file(database_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    backup_ = folder_.filePath(QStringLiteral("antigo.fbk"));
  }

  // Starts a run whose copy (step 2) goes on until the run is cancelled, and
  // waits until the copy is under way.
  void StartRunThatCopiesUntilCancelled() {
    w_.ScriptSteps([this](ScriptedSteps& steps) {
      steps.Script("acessoExclusivo", true);
      steps.Script("doCopy", ScriptedSteps::Action([this](TRecoveryContext& context) {
                     copying_ = true;
                     for (int i = 0; i < 2000 && !context.CancelRequested(); ++i) {
                       std::this_thread::sleep_for(5ms);
                     }
                     context.ThrowIfCancelled();
                     return false;
                   }));
    });
    w_.ChooseDatabase(database_);
    w_.PickFiles({backup_});
    w_.Window().btnSelecionarBackupClick();
    w_.Window().Executar();
    ASSERT_TRUE(WaitUntil([this] { return copying_.load(); }));
  }

  // Runs to the end a run that stops at step 1 (the database is in use).
  void RunToInUse() {
    w_.ScriptSteps([](ScriptedSteps& steps) { steps.Script("acessoExclusivo", false); });
    w_.ChooseDatabase(database_);
    w_.PickFiles({backup_});
    w_.Window().btnSelecionarBackupClick();
    w_.Window().Executar();
    ASSERT_TRUE(w_.WaitForRunEnd());
  }

  void ExpectCancelledAtTheCopy() {
    TThreadRecovery* engine = w_.Window().Engine();
    ASSERT_NE(engine, nullptr);
    ASSERT_TRUE(engine->Finished());
    EXPECT_EQ(engine->Verdict(), RunVerdict::Cancelled);
    auto* result = w_.Find<QLabel>("lbCriarCopiarResult");
    EXPECT_EQ(result->text(), QStringLiteral("Cancelado"));
    EXPECT_EQ(result->palette().color(QPalette::Active, QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_FALSE(w_.Find<QLabel>("lbCriarCopiaLog")->isHidden());
    const QString closing = w_.Boxes().back().text;
    EXPECT_TRUE(closing.startsWith(QStringLiteral("A execução foi cancelada.")))
        << closing.toStdString();
    EXPECT_TRUE(closing.endsWith(QStringLiteral("\r\rRelatório: ") +
                                 QString::fromStdString(engine->ReportPath())))
        << closing.toStdString();
    // Nothing ran after the cut step.
    EXPECT_EQ(w_.Steps()->Calls().size(), 2u);
  }

  QTemporaryDir folder_;
  QString database_;
  QString backup_;
  std::atomic<bool> copying_{false};
  ScriptedWindow w_;
};

TEST_F(RunEndTest, CancelarAsksAndOnlySimStopsTheRunAtTheStepItCuts) {
  StartRunThatCopiesUntilCancelled();
  w_.AnswerBoxes({MessageAnswer::No});
  w_.Window().btnCancelarClick();
  ASSERT_EQ(w_.Boxes().size(), 1u);
  EXPECT_EQ(w_.Boxes()[0].text, TFPrincipal::CancelQuestion());
  EXPECT_EQ(w_.Boxes()[0].kind, MessageKind::Confirmation);
  EXPECT_EQ(w_.Boxes()[0].buttons, MessageButtons::YesNo);
  WaitUntil([] { return false; }, 100ms);
  EXPECT_FALSE(w_.Window().Engine()->Finished()) << "Não must leave the run going";

  w_.AnswerBoxes({MessageAnswer::Yes});
  w_.Window().btnCancelarClick();
  ASSERT_TRUE(w_.WaitForRunEnd());
  EXPECT_EQ(w_.Boxes()[1].text, TFPrincipal::CancelQuestion());
  ExpectCancelledAtTheCopy();
}

TEST_F(RunEndTest, ClosingTheWindowMidRunAsksAndClosesOnlyOnceTheCancelledRunHasEnded) {
  w_.Window().show();
  StartRunThatCopiesUntilCancelled();
  w_.AnswerBoxes({MessageAnswer::No});
  w_.Window().close();
  EXPECT_TRUE(w_.Window().isVisible());
  ASSERT_EQ(w_.Boxes().size(), 1u);
  EXPECT_EQ(w_.Boxes()[0].text, TFPrincipal::CancelQuestion());
  WaitUntil([] { return false; }, 100ms);
  EXPECT_FALSE(w_.Window().Engine()->Finished()) << "Não must leave the run going";

  w_.AnswerBoxes({MessageAnswer::Yes});
  w_.Window().close();
  // The run is cut, says so, and only then does the window go.
  ASSERT_TRUE(WaitUntil([this] { return !w_.Window().isVisible(); }));
  ExpectCancelledAtTheCopy();
  EXPECT_EQ(w_.Boxes().size(), 3u);  // two cancel questions and the closing message
}

TEST_F(RunEndTest, TheCancelQuestionOfTheRealBoxDefaultsToNao) {
  StartRunThatCopiesUntilCancelled();
  w_.Window().SetMessageBox(nullptr);  // the window's own boxes from here on
  QString defaultButton;
  QStringList texts;
  QTimer dismiss;
  QObject::connect(&dismiss, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      return;
    }
    texts.append(box->text());
    if (box->findChild<QPushButton*>(QStringLiteral("btnNao")) != nullptr) {
      defaultButton = box->defaultButton() ? box->defaultButton()->objectName() : QString();
      box->findChild<QPushButton*>(QStringLiteral("btnSim"))->click();
    } else {
      box->findChild<QPushButton*>(QStringLiteral("btnOK"))->click();
    }
  });
  dismiss.start(20);
  w_.Window().btnCancelarClick();
  ASSERT_TRUE(w_.WaitForRunEnd());
  dismiss.stop();
  EXPECT_EQ(defaultButton, QStringLiteral("btnNao"));
  ASSERT_EQ(texts.size(), 2);
  EXPECT_EQ(texts[0], QStringLiteral("Deseja cancelar a execução? Os arquivos do usuário serão "
                                     "mantidos."));
  EXPECT_TRUE(texts[1].startsWith(QStringLiteral("A execução foi cancelada.")));
  EXPECT_EQ(w_.Window().Engine()->Verdict(), RunVerdict::Cancelled);
}

TEST_F(RunEndTest, SalvarLogSavesTheReportWhenThePaneHoldsNoMoreThanItsName) {
  RunToInUse();
  const QString report = QString::fromStdString(w_.Window().Engine()->ReportPath());
  ASSERT_FALSE(report.isEmpty());
  const QByteArray reportText = ReadAll(report);
  ASSERT_TRUE(reportText.startsWith("Relatório da execução do Tessarine\n"));
  auto* log = w_.Find<QPlainTextEdit>("log");
  EXPECT_EQ(log->toPlainText(), QStringLiteral("Relatório: ") + report);
  EXPECT_TRUE(w_.Find<QPushButton>("btnSalvarLog")->isEnabled());

  const QString saved = folder_.filePath(QStringLiteral("salvo.txt"));
  w_.SaveTo(saved);
  w_.Window().btnSalvarLogClick();
  EXPECT_EQ(ReadAll(saved), reportText);

  // An empty pane (a row without a log was clicked) saves the report too.
  w_.Window().ClicarLog(StepKey::ValidarDados);
  ASSERT_TRUE(log->toPlainText().isEmpty());
  const QString again = folder_.filePath(QStringLiteral("de novo.txt"));
  w_.SaveTo(again);
  w_.Window().btnSalvarLogClick();
  EXPECT_EQ(ReadAll(again), reportText);

  // A pane with a step's log saves what it shows.
  w_.Window().ClicarLog(StepKey::AcessoExclusivo);
  const QString shown = folder_.filePath(QStringLiteral("etapa.txt"));
  w_.SaveTo(shown);
  w_.Window().btnSalvarLogClick();
  EXPECT_EQ(ReadAll(shown), (log->toPlainText() + QLatin1Char('\n')).toUtf8());
  EXPECT_EQ(w_.Boxes().size(), 1u);  // the closing message only
}

TEST_F(RunEndTest, PickersOpenInTheChosenDatabasesFolder) {
  const QString databaseFolder = QFileInfo(database_).absolutePath();
  TFPrincipal& window = w_.Window();
  w_.ChooseDatabase(database_);  // nothing chosen yet: the dialog's own folder
  w_.PickFiles({QString()});
  window.btnSelecionarBancoCorrompidoClick();
  w_.PickFiles({QString()});
  window.btnSelecionarBackupClick();  // no backup yet: the database's folder
  w_.PickFiles({QStringLiteral("/srv/backups/antigo.fbk")});
  window.btnSelecionarBackupClick();
  w_.PickFiles({QString()});
  window.btnSelecionarBackupClick();  // the backup's own folder
  w_.PickFiles({QString()});
  window.ChooseBackupFile(QStringLiteral("/srv/dados"));  // the run's picker: its folder
  EXPECT_EQ(w_.PickerFolders(),
            (QStringList{QString(), databaseFolder, databaseFolder, databaseFolder,
                         QStringLiteral("/srv/backups"), QStringLiteral("/srv/dados")}));
}

TEST_F(RunEndTest, TheWindowsOwnPickerOpensInTheFolderWithAnEmptyName) {
  w_.ChooseDatabase(database_);
  TFPrincipal& window = w_.Window();
  window.SetOpenFilePicker(nullptr);  // the window's own dialog from here on
  auto* dialog = w_.Find<QFileDialog>("OpenDialog1");
  ASSERT_NE(dialog, nullptr);
  auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  ASSERT_NE(name, nullptr);
  // What the last pick leaves behind: the database's name in the field.
  dialog->selectFile(database_);
  ASSERT_FALSE(name->text().isEmpty());

  QString shownFolder;
  QString shownName = QStringLiteral("unseen");
  QTimer look;
  QObject::connect(&look, &QTimer::timeout, [&] {
    if (dialog->isVisible()) {
      shownFolder = dialog->directory().absolutePath();
      shownName = name->text();
      dialog->reject();
    }
  });
  look.start(20);
  window.btnSelecionarBackupClick();
  look.stop();
  EXPECT_EQ(shownFolder, QFileInfo(database_).absolutePath());
  EXPECT_EQ(shownName, QString());
  EXPECT_TRUE(w_.Find<QLineEdit>("eUltimoBackup")->text().isEmpty());  // rejected: nothing picked
}

// The handlers main() installs: a signal reaches the window, not the
// default action that would end this test program.
class SignalTest : public RunEndTest {
 protected:
  TSignalNotifier notifier_{[this] { w_.Window().EndOnSignal(); }};
};

TEST_F(SignalTest, TermMidRunCancelsWithoutAskingAndClosesOnceTheRunHasEnded) {
  w_.Window().show();
  StartRunThatCopiesUntilCancelled();
  ASSERT_EQ(::raise(SIGTERM), 0);
  ASSERT_TRUE(WaitUntil([this] { return !w_.Window().isVisible(); }));

  TThreadRecovery* engine = w_.Window().Engine();
  ASSERT_TRUE(engine->Finished());
  EXPECT_EQ(engine->Verdict(), RunVerdict::Cancelled);
  EXPECT_EQ(w_.Find<QLabel>("lbCriarCopiarResult")->text(), QStringLiteral("Cancelado"));
  EXPECT_EQ(w_.Steps()->Calls().size(), 2u);
  // Neither the cancel question nor the closing message waited for anyone,
  // and the report was written whole.
  EXPECT_TRUE(w_.Boxes().empty());
  EXPECT_TRUE(
      ReadAll(QString::fromStdString(engine->ReportPath())).contains("A execução foi cancelada."));
}

TEST_F(SignalTest, HangUpWithAQuestionOnScreenClosesTheBoxAndEndsTheRun) {
  w_.Window().show();
  w_.Window().SetMessageBox(nullptr);  // the window's own boxes
  std::atomic<bool> asked{false};
  w_.ScriptSteps([&](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", true);
    steps.Script("doCopy", ScriptedSteps::Action([&](TRecoveryContext& context) {
                   asked = true;
                   context.Ask(QuestionId::RetryActiveConnections, "Deseja tentar novamente?",
                               MessageKind::Confirmation);
                   return true;
                 }));
  });
  w_.ChooseDatabase(database_);
  w_.PickFiles({backup_});
  w_.Window().btnSelecionarBackupClick();
  bool boxShown = false;
  QElapsedTimer sinceSignal;
  QTimer hangUp;
  QObject::connect(&hangUp, &QTimer::timeout, [&] {
    QWidget* box = QApplication::activeModalWidget();
    if (!boxShown && box != nullptr) {
      boxShown = true;
      sinceSignal.start();
      ::raise(SIGHUP);
    } else if (box != nullptr && sinceSignal.isValid() && sinceSignal.elapsed() > 3000) {
      ADD_FAILURE() << "the box still waits for an answer after the signal";
      box->close();
    }
  });
  hangUp.start(20);
  w_.Window().Executar();
  ASSERT_TRUE(WaitUntil([this] { return !w_.Window().isVisible(); }));
  hangUp.stop();

  EXPECT_TRUE(asked && boxShown);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  ASSERT_TRUE(w_.Window().Engine()->Finished());
  EXPECT_EQ(w_.Window().Engine()->Verdict(), RunVerdict::Cancelled);
  EXPECT_EQ(w_.Steps()->Calls().size(), 2u);
}

}  // namespace

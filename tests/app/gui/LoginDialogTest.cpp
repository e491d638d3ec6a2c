// The login dialog, and a refused login during a run through the window: the
// dialog is the real one, answered with Qt Test as a user would.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <mutex>
#include <vector>

#include "GuiTestSupport.h"
#include "app/TLoginDialog.h"
#include "fbaccess/EIBInterBaseError.h"

namespace {

constexpr long kLoginRefused = 335544472;
const char* const kServerReason =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.";

// Answers the next login dialogs that open: types the user and password and
// presses OK, or presses Cancelar. Counts the dialogs it saw.
class LoginAnswerer {
 public:
  explicit LoginAnswerer(QString user = {}, QString password = {}, bool cancel = false)
      : user_(std::move(user)), password_(std::move(password)), cancel_(cancel) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { AnswerOpenDialog(); });
    timer_.start();
  }
  int Shown() const { return shown_; }
  QString Reason() const { return reason_; }

 private:
  void AnswerOpenDialog() {
    auto* dialog = qobject_cast<TLoginDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
      return;
    }
    ++shown_;
    reason_ = dialog->findChild<QLabel*>(QStringLiteral("lbMotivo"))->text();
    if (cancel_) {
      QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCancelar")),
                        Qt::LeftButton);
      return;
    }
    auto* user = dialog->findChild<QLineEdit*>(QStringLiteral("eUsuario"));
    user->clear();
    QTest::keyClicks(user, user_);
    QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("eSenha")), password_);
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnOK")), Qt::LeftButton);
  }

  QString user_;
  QString password_;
  bool cancel_;
  QTimer timer_;
  int shown_ = 0;
  QString reason_;
};

// The logins the scripted step 1 saw, in order.
struct SeenLogins {
  std::mutex mutex;
  std::vector<std::pair<std::string, std::string>> logins;

  void Add(const TCredentials& credentials) {
    std::lock_guard<std::mutex> lock(mutex);
    logins.emplace_back(credentials.User(), credentials.Password());
  }
};

class LoginDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    database_ = folder_.filePath(QStringLiteral("empresa.FDB"));
    QFile file(database_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not really a database");
  }

  // Step 1 refuses every login but `accepted`'s password; once accepted it
  // reports other users attached, which ends the run.
  void RefuseAllBut(const std::string& acceptedPassword) {
    w_.ScriptSteps([this, acceptedPassword](ScriptedSteps& steps) {
      for (int attempt = 0; attempt < 3; ++attempt) {
        steps.Script("acessoExclusivo", [this, acceptedPassword](TRecoveryContext& context) {
          seen_.Add(context.Credentials());
          if (context.Credentials().Password() != acceptedPassword) {
            throw EIBInterBaseError(-902, kLoginRefused, kServerReason);
          }
          return false;
        });
      }
    });
  }

  // Starts a run without a backup (answering Sim) and waits for its end.
  void RunToEnd() {
    w_.ChooseDatabase(database_);
    w_.AnswerBoxes({MessageAnswer::Yes});
    w_.Window().Executar();
    ASSERT_NE(w_.Window().Engine(), nullptr);
    ASSERT_TRUE(w_.WaitForRunEnd());
  }

  QString ShownText() {
    QString text = w_.Find<QPlainTextEdit>("log")->toPlainText();
    for (const ShownBox& box : w_.Boxes()) {
      text += box.text;
    }
    return text;
  }

  QTemporaryDir folder_;
  QString database_;
  SeenLogins seen_;
  ScriptedWindow w_;
};

TEST(LoginDialog, IsPortugueseHidesThePasswordAndCancelarGivesNothing) {
  TLoginDialog dialog(QStringLiteral("sysdba"), QStringLiteral("refused\rtry again"));
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Login recusado pelo servidor"));
  auto* user = dialog.findChild<QLineEdit*>(QStringLiteral("eUsuario"));
  auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("eSenha"));
  ASSERT_NE(user, nullptr);
  ASSERT_NE(password, nullptr);
  EXPECT_EQ(user->text(), QStringLiteral("sysdba"));
  EXPECT_EQ(password->echoMode(), QLineEdit::Password);
  EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("btnOK"))->text(), QStringLiteral("OK"));
  EXPECT_EQ(dialog.findChild<QPushButton*>(QStringLiteral("btnCancelar"))->text(),
            QStringLiteral("Cancelar"));
  // The server's text keeps its line break.
  EXPECT_EQ(dialog.findChild<QLabel*>(QStringLiteral("lbMotivo"))->text(),
            QStringLiteral("refused\ntry again"));

  LoginAnswerer cancel({}, {}, true);
  EXPECT_FALSE(TLoginDialog::Ask(nullptr, QStringLiteral("sysdba"), QStringLiteral("no")));
  EXPECT_EQ(cancel.Shown(), 1);
}

TEST(LoginDialog, TakesTypedCredentialsAndEmptiesThePasswordField) {
  LoginAnswerer answer(QStringLiteral("operador"), QStringLiteral("s3nh@ digitada"));
  const std::optional<TCredentials> typed =
      TLoginDialog::Ask(nullptr, QStringLiteral("sysdba"), QStringLiteral("no"));
  ASSERT_TRUE(typed);
  EXPECT_EQ(typed->User(), "operador");
  EXPECT_EQ(typed->Password(), "s3nh@ digitada");
  EXPECT_EQ(typed->Source().find("s3nh@"), std::string::npos);

  TLoginDialog dialog(QStringLiteral("sysdba"), QStringLiteral("no"));
  auto* password = dialog.findChild<QLineEdit*>(QStringLiteral("eSenha"));
  password->setText(QStringLiteral("x"));
  EXPECT_EQ(dialog.TakeCredentials().Password(), "x");
  EXPECT_TRUE(password->text().isEmpty());
}

TEST_F(LoginDialogTest, RefusedLoginAsksOnceAndGoesOnWithTheTypedPassword) {
  RefuseAllBut("s3nh@ digitada");
  LoginAnswerer answer(QStringLiteral("operador"), QStringLiteral("s3nh@ digitada"));
  RunToEnd();

  EXPECT_EQ(answer.Shown(), 1);
  EXPECT_EQ(answer.Reason(), QString::fromLatin1(kServerReason));
  std::lock_guard<std::mutex> lock(seen_.mutex);
  ASSERT_EQ(seen_.logins.size(), 2u);
  EXPECT_EQ(seen_.logins[1],
            std::make_pair(std::string("operador"), std::string("s3nh@ digitada")));
  // Step 1 went on with the typed login to its own answer.
  const std::vector<ShownBox> boxes = w_.Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_TRUE(boxes.back().text.startsWith(
      QStringLiteral("O banco de dados estava em uso e não pôde ser validado.\r\rRelatório: ")))
      << boxes.back().text.toStdString();
  EXPECT_FALSE(ShownText().contains(QStringLiteral("s3nh@")));
}

TEST_F(LoginDialogTest, CancelarEndsTheRunSayingTheLoginWasRefused) {
  RefuseAllBut("never typed");
  LoginAnswerer cancel({}, {}, true);
  RunToEnd();

  EXPECT_EQ(cancel.Shown(), 1);
  EXPECT_EQ(seen_.logins.size(), 1u);
  const std::vector<ShownBox> boxes = w_.Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_TRUE(boxes.back().text.contains(QStringLiteral("recusou o login")))
      << boxes.back().text.toStdString();
  EXPECT_FALSE(boxes.back().text.contains(QStringLiteral("em uso")));
  // The password the window resolved never reaches the screen.
  const std::string resolved = seen_.logins[0].second;
  if (!resolved.empty()) {
    EXPECT_FALSE(ShownText().contains(QString::fromStdString(resolved)));
  }
}

}  // namespace

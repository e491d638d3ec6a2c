// A login the client library itself cannot offer, through the real window:
// the client is set up for the legacy authentication alone, which the server
// refuses, and the window asks for another login as for a wrong password.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <fstream>

#include "BoxAnswerer.h"
#include "WindowTestSupport.h"
#include "app/TFPrincipal.h"
#include "app/TLoginDialog.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "fbaccess/ClientLibrary.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::TestFolder;

namespace {

// Presses Cancelar in every login dialog that opens; keeps each one's reason.
class LoginCanceller {
 public:
  LoginCanceller() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] { CancelOpenDialog(); });
    timer_.start();
  }
  const QStringList& Reasons() const { return reasons_; }

 private:
  void CancelOpenDialog() {
    auto* dialog = qobject_cast<TLoginDialog*>(QApplication::activeModalWidget());
    if (dialog == nullptr || !dialog->isVisible()) {
      return;
    }
    reasons_ << dialog->findChild<QLabel*>(QStringLiteral("lbMotivo"))->text();
    QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCancelar")),
                      Qt::LeftButton);
  }

  QTimer timer_;
  QStringList reasons_;
};

TEST(WindowLogin, LegacyAuthenticationOnlyAsksForALoginAndCancelarEndsTheRun) {
  // The client reads $FIREBIRD/firebird.conf when it is first loaded: ctest
  // runs each test in a process of its own, where nothing loaded it yet.
  if (ClientLibrary::Bound()) {
    GTEST_SKIP() << "the client library was loaded by an earlier test of this process";
  }
  TestFolder folder;
  // Made before the setting: the server's tools run with the usual client.
  const FixtureDatabase db =
      FixtureDatabase::Create(folder.File("EMPRESA.FDB"), "create table T (ID integer);\n");
  std::ofstream(folder.File("firebird.conf")) << "AuthClient = Legacy_Auth\n";
  const std::string before = FileDamage::ReadWhole(db.Path());
  qputenv("FIREBIRD", QByteArray::fromStdString(folder.Path()));

  TFPrincipal window(&TFirebirdSteps::Create);
  window.show();
  BoxAnswerer boxes;  // Sim to going on without an older backup, OK to the end
  LoginCanceller logins;
  window.findChild<QLineEdit*>(QStringLiteral("eBancoCorrompido"))
      ->setText(QString::fromStdString(db.Path()));
  window.findChild<QPushButton*>(QStringLiteral("btnExecutar"))->click();
  const bool ended =
      WaitUntil([&] { return window.Engine() != nullptr && window.Engine()->Finished(); }, 60000);
  qunsetenv("FIREBIRD");
  ASSERT_TRUE(ended) << boxes.Texts().join(QStringLiteral(" | ")).toStdString();

  // Asked once, with the server's reason; Cancelar gave up at once.
  ASSERT_EQ(logins.Reasons().size(), 1) << boxes.Texts().join(QStringLiteral(" | ")).toStdString();
  EXPECT_TRUE(logins.Reasons()[0].contains(QStringLiteral("Error occurred during login")))
      << logins.Reasons()[0].toStdString();
  EXPECT_EQ(window.Engine()->Verdict(), RunVerdict::LoginRefused);
  ASSERT_FALSE(boxes.Texts().isEmpty());
  EXPECT_TRUE(boxes.Texts().last().startsWith(QStringLiteral("O servidor recusou o login")))
      << boxes.Texts().last().toStdString();
  EXPECT_EQ(window.findChild<QLabel*>(QStringLiteral("lbAcessoExclusivoResult"))->text(),
            QStringLiteral("Login recusado."));
  EXPECT_TRUE(window.findChild<QPushButton*>(QStringLiteral("btnExecutar"))->isEnabled());
  EXPECT_EQ(before, FileDamage::ReadWhole(db.Path()));
}

}  // namespace

// One repair through the real window and its real message boxes, on the
// offscreen platform, against the running server.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include "BoxAnswerer.h"
#include "WindowTestSupport.h"
#include "app/TFPrincipal.h"
#include "engine/firebird/TFirebirdSteps.h"
#include "engine/run/TThreadRecovery.h"
#include "support/FileDamage.h"
#include "support/FixtureDatabase.h"
#include "support/SampleSchema.h"
#include "support/ServerTools.h"
#include "support/TestFolder.h"

using testsupport::FileDamage;
using testsupport::FixtureDatabase;
using testsupport::SampleSchema;
using testsupport::ServerTools;
using testsupport::TestFolder;

namespace {

TEST(WindowRun, DamagedDatabaseIsRepairedAtLevelOneThroughTheWindow) {
  TestFolder folder;
  const FixtureDatabase db = SampleSchema(SampleSchema::Kind::NamedConstraints, 300)
                                 .CreateDatabase(folder.File("LOJA.FDB"));
  const QString lost =
      QString::number(FileDamage::ZeroDataPage(db, "AVULSOS", "ID", 1).lostKeys.size());

  TFPrincipal window(&TFirebirdSteps::Create);
  window.show();
  BoxAnswerer answerer;
  window.findChild<QLineEdit*>(QStringLiteral("eBancoCorrompido"))
      ->setText(QString::fromStdString(db.Path()));
  window.findChild<QPushButton*>(QStringLiteral("btnExecutar"))->click();

  ASSERT_TRUE(
      WaitUntil([&] { return window.Engine() != nullptr && window.Engine()->Finished(); }, 180000))
      << answerer.Texts().join(QStringLiteral(" | ")).toStdString();
  // The closing box is answered on the UI thread before the thread ends.
  const QStringList texts = answerer.Texts();
  ASSERT_EQ(texts.size(), 2) << texts.join(QStringLiteral(" | ")).toStdString();
  EXPECT_TRUE(
      texts[0].startsWith(QStringLiteral("Nenhum backup do banco de dados foi informado.")));

  auto result = [&](const char* name) {
    return window.findChild<QLabel*>(QLatin1String(name))->text();
  };
  const QString restoredName = result("lbRestaurarBancoNivel01Result");
  ASSERT_TRUE(restoredName.startsWith(QStringLiteral("Restaurado em: LOJA ")))
      << restoredName.toStdString();
  const QString restoredPath = QString::fromStdString(folder.Path()) + QLatin1Char('/') +
                               restoredName.mid(QStringLiteral("Restaurado em: ").size());
  const QString report = QString::fromStdString(window.Engine()->ReportPath());
  ASSERT_FALSE(report.isEmpty());
  // The zeroed page's rows are gone and no older backup was given: the
  // copy's index counts them.
  EXPECT_EQ(texts[1], QStringLiteral("O banco de dados foi corrigido, mas ") + lost +
                          QStringLiteral(" registros não puderam ser recuperados:\nAVULSOS: ") +
                          lost + QStringLiteral(" perdidos\n\nBanco corrompido: ") +
                          QString::fromStdString(db.Path()) +
                          QStringLiteral("\nBanco corrigido: ") + restoredPath +
                          QStringLiteral("\n\nRelatório: ") + report);
  // The log's last line names the report, which "Salvar Log" saves from there.
  EXPECT_EQ(window.findChild<QPlainTextEdit*>(QStringLiteral("log"))->toPlainText(),
            QStringLiteral("Relatório: ") + report);

  EXPECT_EQ(result("lbAcessoExclusivoResult"), QStringLiteral("Acesso obtido."));
  EXPECT_EQ(result("lbCriarCopiarResult"), QStringLiteral("Cópia em: LOJA (Copia).FDB"));
  EXPECT_EQ(result("lbValidarDadosResult"), QStringLiteral("Erros encontrados"));
  EXPECT_EQ(result("lbPrepararBackupResult"), QStringLiteral("Preparado para o backup"));
  EXPECT_TRUE(result("lbFazerBackupNivel01Result").startsWith(QStringLiteral("Backup em: LOJA ")));
  EXPECT_TRUE(window.findChild<QPushButton*>(QStringLiteral("btnExecutar"))->isEnabled());
  // The restore's output, streamed into the log view, was filed as row 6's log.
  EXPECT_TRUE(window.SavedStepLog(StepKey::RestaurarBancoNivel01)
                  .join(QLatin1Char('\n'))
                  .contains(QStringLiteral("gbak:finishing, closing, and going home")));
  EXPECT_TRUE(ServerTools::Validate(restoredPath.toStdString()).Ok());
}

}  // namespace

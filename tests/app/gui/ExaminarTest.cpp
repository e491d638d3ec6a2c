// Examinar: the examination of the chosen database file in the log pane,
// made off the UI thread, without a run and without touching the run's
// controls; a file it cannot read gives a box with the reason.
#include <gtest/gtest.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <map>

#include "GuiTestSupport.h"
#include "support/FixtureDatabase.h"
#include "support/TestFolder.h"

namespace {

using testsupport::FixtureDatabase;
using testsupport::TestFolder;

class ExaminarTest : public ::testing::Test {
 protected:
  QPushButton* Button(const char* name) { return w_.Find<QPushButton>(name); }
  QPlainTextEdit* Log() { return w_.Find<QPlainTextEdit>("log"); }

  // What a run shows or uses, to compare before and after an examination.
  std::map<QString, QString> RunControls() {
    std::map<QString, QString> state;
    for (const char* name :
         {"btnSelecionarBancoCorrompido", "btnSelecionarBackup", "btnExecutar", "btnCancelar"}) {
      state[QLatin1String(name)] = Button(name)->isEnabled() ? "enabled" : "disabled";
    }
    for (const char* name : {"eBancoCorrompido", "eUltimoBackup"}) {
      state[QLatin1String(name)] = w_.Find<QLineEdit>(name)->text();
    }
    for (QLabel* label : w_.Window().findChildren<QLabel*>()) {
      if (label->objectName().endsWith(QLatin1String("Result")) ||
          label->objectName().startsWith(QLatin1String("lbTempo"))) {
        state[label->objectName()] =
            label->text() + (label->isEnabled() ? " enabled" : " disabled");
      }
    }
    return state;
  }

  ScriptedWindow w_;
};

TEST_F(ExaminarTest, ShowsTheExaminationInTheLogWithoutARun) {
  TestFolder folder("tessarine-examinar");
  const FixtureDatabase db = FixtureDatabase::Create(
      folder.File("PEQUENO.FDB"),
      "create table ITENS (ID integer not null, NOME varchar(30));\ncommit;\n" +
          FixtureDatabase::FillScript("insert into ITENS values (:i, 'item ' || :i)", 40));
  const QString path = QString::fromStdString(db.Path());
  w_.ChooseDatabase(path);
  ASSERT_EQ(w_.Find<QLineEdit>("eBancoCorrompido")->text(), path);
  const auto before = RunControls();
  ASSERT_EQ(Button("btnExaminar")->text(), QStringLiteral("Examinar"));
  ASSERT_TRUE(Button("btnExaminar")->isEnabled());

  Button("btnExaminar")->click();
  // The click returned before the result: the pages are read on another
  // thread, and meanwhile neither Examinar nor a run can start.
  EXPECT_TRUE(w_.Window().Examining());
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("Examinando ") + path + QStringLiteral(" ..."));
  EXPECT_FALSE(Button("btnExaminar")->isEnabled());
  EXPECT_FALSE(Button("btnExecutar")->isEnabled());
  w_.Window().Executar();
  EXPECT_EQ(w_.Window().Engine(), nullptr);

  ASSERT_TRUE(WaitUntil([this] { return !w_.Window().Examining(); }));
  const QStringList lines = Log()->toPlainText().split(QLatin1Char('\n'));
  ASSERT_FALSE(lines.isEmpty());
  EXPECT_EQ(lines.first(), QStringLiteral("Exame de ") + path);
  EXPECT_TRUE(lines.contains(QStringLiteral("Tamanho de página: 4096")))
      << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.contains(QStringLiteral("Páginas danificadas: 0")))
      << lines.join('\n').toStdString();
  bool tableShown = false;
  for (const QString& line : lines) {
    tableShown = tableShown || (line.startsWith(QStringLiteral("Tabela ITENS: ")) &&
                                line.contains(QStringLiteral(" 40 linhas legíveis")));
  }
  EXPECT_TRUE(tableShown) << lines.join('\n').toStdString();
  EXPECT_TRUE(lines.last().startsWith(QStringLiteral("O reparo esperado")))
      << lines.join('\n').toStdString();
  EXPECT_TRUE(Log()->isEnabled());

  EXPECT_EQ(RunControls(), before);
  EXPECT_TRUE(Button("btnExaminar")->isEnabled());
  EXPECT_EQ(w_.Window().Engine(), nullptr);
  EXPECT_TRUE(w_.Boxes().empty());
  // The examination can be saved like a run's log.
  EXPECT_TRUE(Button("btnSalvarLog")->isEnabled());
}

TEST_F(ExaminarTest, AFileThatCannotBeReadGivesABoxWithTheReason) {
  QTemporaryDir folder;
  ASSERT_TRUE(folder.isValid());
  const QString text = folder.filePath(QStringLiteral("texto.fdb"));
  QFile file(text);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("isto não é um banco de dados");
  file.close();

  // Nothing chosen yet, then a file that is not there: no examination starts.
  Button("btnExaminar")->click();
  w_.ChooseDatabase(folder.filePath(QStringLiteral("sumiu.fdb")));
  Button("btnExaminar")->click();
  EXPECT_FALSE(w_.Window().Examining());

  w_.ChooseDatabase(text);
  const auto before = RunControls();
  Button("btnExaminar")->click();
  ASSERT_TRUE(WaitUntil([this] { return !w_.Window().Examining(); }));

  const std::vector<ShownBox> boxes = w_.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_TRUE(boxes[0].text.contains(QStringLiteral("Nenhum banco de dados informado")));
  EXPECT_TRUE(boxes[1].text.contains(QStringLiteral("não existe")));
  EXPECT_TRUE(boxes[1].text.contains(QStringLiteral("sumiu.fdb")));
  EXPECT_TRUE(boxes[2].text.startsWith(QStringLiteral("Não foi possível examinar o arquivo: ")))
      << boxes[2].text.toStdString();
  EXPECT_TRUE(boxes[2].text.contains(text));
  for (const ShownBox& box : boxes) {
    EXPECT_EQ(box.kind, MessageKind::Error);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
  }
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  EXPECT_EQ(RunControls(), before);
  EXPECT_TRUE(Button("btnExaminar")->isEnabled());
}

}  // namespace

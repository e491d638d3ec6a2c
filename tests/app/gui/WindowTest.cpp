// The main window on its own: layout and initial state, the Executar checks,
// the run display, the step rows, the log view and the chronometer.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "GuiTestSupport.h"
#include "app/TWindowHost.h"
#include "engine/run/TRecoveryContext.h"

namespace {

QColor TextColour(const QWidget* widget) {
  return widget->palette().color(QPalette::Active, QPalette::WindowText);
}

QPoint ClientPos(const QWidget* widget, const QWidget* window) {
  return widget->mapTo(window, QPoint(0, 0));
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    database_ = folder_.filePath(QStringLiteral("empresa.FDB"));
    QFile file(database_);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not really a database");
  }

  QLabel* Label(const char* name) { return w_.Find<QLabel>(name); }
  QPushButton* Button(const char* name) { return w_.Find<QPushButton>(name); }
  QPlainTextEdit* Log() { return w_.Find<QPlainTextEdit>("log"); }
  // A run's context on this thread, reaching the window through its host as
  // a run does: what the rows' links show comes from its record.
  TRecoveryContext& Run() {
    if (!run_) {
      run_ = std::make_unique<TRecoveryContext>(w_.Window().Host(), database_.toStdString(),
                                                std::string());
    }
    return *run_;
  }

  QTemporaryDir folder_;
  QString database_;
  ScriptedWindow w_;
  std::unique_ptr<TRecoveryContext> run_;
};

TEST_F(WindowTest, StartsWithTheControlsAndStatesOfTheForm) {
  TFPrincipal& window = w_.Window();
  EXPECT_EQ(window.windowTitle(), QStringLiteral("Tessarine by Varlune"));
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(window.palette().color(QPalette::Window), QColor(240, 240, 240));
  EXPECT_EQ(window.font().pixelSize(), 11);

  struct Expected {
    const char* name;
    QPoint position;
    QString text;
    int pixelSize;
    bool bold;
    QColor colour;
    bool enabled;
  };
  const Expected labels[] = {
      {"lbTitulo",
       {26, 8},
       "Procedimentos que podem ser realizados",
       11,
       true,
       {0, 128, 192},
       false},
      {"lbNivel01", {25, 32}, "NIVEL 01", 11, true, {255, 0, 0}, false},
      {"lbNivel02", {25, 208}, "NIVEL 02", 11, true, {255, 0, 0}, false},
      {"lbInicio", {64, 363}, "Início:", 13, false, {}, false},
      {"lbTempoInicio", {116, 362}, "", 16, false, {0, 128, 192}, false},
      {"lbTermino", {62, 387}, "Término:", 13, false, {}, false},
      {"lbTempoTermino", {116, 386}, "", 16, false, {0, 128, 64}, false},
      {"lbDuracao", {349, 363}, "Duração:", 13, false, {}, false},
      {"lbTempoDuracao", {402, 362}, "", 16, false, {128, 128, 64}, false},
      {"lbTituloLogs", {496, 8}, "Resultados da tarefas atual", 11, false, {54, 54, 54}, false},
      {"Label7", {23, 420}, "Banco de dados corrompido", 11, false, {}, true},
      {"Label8", {471, 420}, "Último backup válido", 11, false, {}, true},
  };
  for (const Expected& expected : labels) {
    SCOPED_TRACE(expected.name);
    QLabel* label = Label(expected.name);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(ClientPos(label, &window), expected.position);
    EXPECT_EQ(label->text(), expected.text);
    EXPECT_EQ(label->font().pixelSize(), expected.pixelSize);
    EXPECT_EQ(label->font().bold(), expected.bold);
    if (expected.colour.isValid()) {
      EXPECT_EQ(TextColour(label), expected.colour);
    }
    EXPECT_EQ(label->isEnabled(), expected.enabled);
  }
  EXPECT_EQ(Label("lbTempoInicio")->size(), QSize(80, 19));
  EXPECT_EQ(Label("lbTempoDuracao")->size(), QSize(71, 19));
  EXPECT_TRUE(Label("lbTempoTermino")->alignment() & Qt::AlignRight);

  const std::pair<const char*, QRect> rules[] = {
      {"Bevel1", {24, 410, 889, 2}}, {"Bevel2", {487, 12, 2, 390}}, {"Bevel3", {24, 352, 452, 2}},
      {"Bevel4", {76, 43, 403, 2}},  {"Bevel5", {76, 218, 403, 2}},
  };
  for (const auto& [name, geometry] : rules) {
    SCOPED_TRACE(name);
    ASSERT_NE(w_.Find<QFrame>(name), nullptr);
    EXPECT_EQ(w_.Find<QFrame>(name)->geometry(), geometry);
  }

  EXPECT_EQ(Log()->geometry(), QRect(496, 24, 417, 345));
  EXPECT_FALSE(Log()->isEnabled());
  EXPECT_FALSE(Log()->isReadOnly());
  EXPECT_EQ(Log()->lineWrapMode(), QPlainTextEdit::WidgetWidth);

  const std::tuple<const char*, QRect, QString, bool> buttons[] = {
      {"btnSalvarLog", {831, 379, 83, 25}, "Salvar Log", false},
      {"btnSelecionarBancoCorrompido", {388, 436, 77, 25}, "Selecionar", true},
      {"btnSelecionarBackup", {836, 436, 77, 25}, "Selecionar", true},
      {"btnExaminar", {584, 474, 105, 37}, "Examinar", true},
      {"btnExecutar", {696, 474, 105, 37}, "Executar", true},
      {"btnCancelar", {808, 473, 105, 37}, "Cancelar", false},
  };
  for (const auto& [name, geometry, text, enabled] : buttons) {
    SCOPED_TRACE(name);
    ASSERT_NE(Button(name), nullptr);
    EXPECT_EQ(Button(name)->geometry(), geometry);
    EXPECT_EQ(Button(name)->text(), text);
    EXPECT_EQ(Button(name)->isEnabled(), enabled);
  }
  EXPECT_EQ(TextColour(Button("btnSelecionarBancoCorrompido")), QColor(Qt::black));

  for (const auto& [field, panel, fieldPos, panelRect] :
       {std::tuple{"eBancoCorrompido", "Panel1", QPoint(27, 442), QRect(23, 436, 364, 25)},
        std::tuple{"eUltimoBackup", "Panel2", QPoint(475, 442), QRect(471, 436, 364, 25)}}) {
    SCOPED_TRACE(field);
    QLineEdit* edit = w_.Find<QLineEdit>(field);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(ClientPos(edit, &window), fieldPos);
    EXPECT_EQ(edit->size(), QSize(357, 19));
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_FALSE(edit->hasFrame());
    EXPECT_TRUE(edit->text().isEmpty());
    EXPECT_EQ(w_.Find<QWidget>(panel)->geometry(), panelRect);
    EXPECT_EQ(w_.Find<QWidget>(panel)->palette().color(QPalette::Window), QColor(Qt::white));
  }

  QTimer* timer = w_.Find<QTimer>("Timer");
  ASSERT_NE(timer, nullptr);
  EXPECT_EQ(timer->interval(), 1000);
  EXPECT_FALSE(timer->isActive());
}

TEST_F(WindowTest, StepRowsHaveTheirNamesPlacesAndInitialState) {
  const char* stems[] = {"AcessoExclusivo",       "CriarCopia",         "ValidarDados",
                         "PrepararBackup",        "FazerBackupNivel01", "RestaurarBancoNivel01",
                         "ProcurarOrfaos",        "RecuperarDados",     "FazerBackupNivel02",
                         "RestaurarBancoNivel02", "ValidacaoFinal"};
  const int tops[] = {56, 80, 104, 128, 152, 176, 232, 256, 280, 304, 328};
  const char* titles[] = {"Obter acesso exclusivo",
                          "Criar cópia de segurança",
                          "Validar dados e estrutura",
                          "Preparar para backup",
                          "Fazer backup",
                          "Restaurar banco de dados",
                          "Procurar registros órfãos",
                          "Recuperar dados antigos",
                          "Fazer backup",
                          "Restaurar banco de dados",
                          "Validação final"};
  for (int i = 0; i < 11; ++i) {
    const QString stem = QLatin1String(stems[i]);
    SCOPED_TRACE(stems[i]);
    QLabel* status = w_.Window().findChild<QLabel*>("lb" + stem + "Status");
    QLabel* title = w_.Window().findChild<QLabel*>("lb" + stem);
    const QString resultName =
        i == 1 ? QStringLiteral("lbCriarCopiarResult") : "lb" + stem + "Result";
    QLabel* result = w_.Window().findChild<QLabel*>(resultName);
    QLabel* link = w_.Window().findChild<QLabel*>("lb" + stem + "Log");
    ASSERT_TRUE(status && title && result && link);
    EXPECT_EQ(status->pos(), QPoint(8, tops[i] - 1));
    EXPECT_EQ(title->pos(), QPoint(25, tops[i]));
    EXPECT_EQ(result->pos(), QPoint(192, tops[i]));
    EXPECT_EQ(link->pos(), QPoint(444, tops[i]));
    EXPECT_EQ(title->text(), QString::fromUtf8(titles[i]));
    EXPECT_TRUE(status->isEnabled());
    EXPECT_TRUE(status->text().isEmpty());
    EXPECT_EQ(status->font().pixelSize(), 16);
    EXPECT_EQ(TextColour(status), QColor(0, 128, 64));
    EXPECT_FALSE(title->isEnabled());
    EXPECT_FALSE(title->font().bold());
    EXPECT_EQ(result->width(), 246);
    EXPECT_FALSE(result->isEnabled());
    EXPECT_EQ(TextColour(result), QColor(0, 128, 192));
    EXPECT_EQ(link->text(), QStringLiteral("Ver log"));
    EXPECT_EQ(TextColour(link), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(link->isHidden());
  }
  EXPECT_EQ(w_.Window().findChild<QLabel*>("lbCriarCopiaResult"), nullptr);
}

TEST_F(WindowTest, PicturesAreDecodedFromTheResources) {
  QLabel* colour = Label("imChronometer");
  QLabel* grey = Label("imChronometerDisabled");
  ASSERT_TRUE(colour && grey);
  EXPECT_EQ(colour->geometry(), QRect(24, 366, 23, 30));
  EXPECT_EQ(grey->geometry(), QRect(24, 366, 23, 30));
  EXPECT_EQ(colour->pixmap().size(), QSize(23, 30));
  EXPECT_EQ(grey->pixmap().size(), QSize(23, 30));
  EXPECT_FALSE(grey->isHidden());
  // The grey picture lies above the coloured one.
  const QObjectList& children = w_.Window().children();
  EXPECT_GT(children.indexOf(grey), children.indexOf(colour));
  // The coloured stopwatch is orange, the other grey.
  const QColor middle = colour->pixmap().toImage().pixelColor(3, 17);
  EXPECT_GT(middle.red(), middle.blue() + 80);
  const QColor greyMiddle = grey->pixmap().toImage().pixelColor(3, 17);
  EXPECT_LT(std::abs(greyMiddle.red() - greyMiddle.blue()), 12);

  for (const char* name : {"btnExecutar", "btnCancelar"}) {
    SCOPED_TRACE(name);
    const QIcon icon = Button(name)->icon();
    ASSERT_FALSE(icon.isNull());
    const QImage normal = icon.pixmap(QSize(31, 25), QIcon::Normal).toImage();
    const QImage disabled = icon.pixmap(QSize(31, 25), QIcon::Disabled).toImage();
    ASSERT_EQ(normal.size(), QSize(31, 25));
    const QColor ring = normal.pixelColor(12, 3);
    const QColor greyRing = disabled.pixelColor(12, 3);
    EXPECT_GT(std::max(ring.red(), ring.green()), ring.blue() + 60);
    EXPECT_LT(std::abs(greyRing.red() - greyRing.green()), 12);
  }
}

TEST_F(WindowTest, TabOrderFollowsTheForm) {
  const char* order[] = {"btnSelecionarBancoCorrompido",
                         "btnSelecionarBackup",
                         "btnExaminar",
                         "btnExecutar",
                         "eBancoCorrompido",
                         "eUltimoBackup",
                         "log",
                         "btnSalvarLog",
                         "btnCancelar"};
  QWidget* widget = w_.Window().findChild<QWidget*>(QLatin1String(order[0]));
  for (std::size_t i = 1; i < std::size(order); ++i) {
    do {
      widget = widget->nextInFocusChain();
    } while (!(widget->focusPolicy() & Qt::TabFocus) || widget->objectName().isEmpty());
    EXPECT_EQ(widget->objectName(), QLatin1String(order[i]));
  }
}

TEST_F(WindowTest, ExecutarRefusesMissingUnknownAndForeignDatabases) {
  w_.Window().Executar();
  w_.ChooseDatabase(folder_.filePath(QStringLiteral("sumiu.fdb")));
  w_.Window().Executar();
  const QString text = folder_.filePath(QStringLiteral("notas.txt"));
  QFile(text).open(QIODevice::WriteOnly);
  w_.ChooseDatabase(text);
  w_.Window().Executar();
  // A folder is no database file either.
  QDir(folder_.path()).mkdir(QStringLiteral("pasta.fdb"));
  w_.ChooseDatabase(folder_.filePath(QStringLiteral("pasta.fdb")));
  w_.Window().Executar();

  const std::vector<ShownBox> boxes = w_.Boxes();
  ASSERT_EQ(boxes.size(), 4u);
  EXPECT_EQ(boxes[0].text, QStringLiteral("Nenhum banco de dados informado."));
  EXPECT_EQ(boxes[1].text,
            QStringLiteral("O banco de dados informado não existe neste computador."));
  EXPECT_EQ(boxes[2].text,
            QStringLiteral("O arquivo informado não é um banco de dados Firebird (.FDB)."));
  EXPECT_EQ(boxes[3].text, boxes[1].text);
  for (const ShownBox& box : boxes) {
    EXPECT_EQ(box.kind, MessageKind::Error);
    EXPECT_EQ(box.buttons, MessageButtons::Ok);
  }
  EXPECT_EQ(w_.Window().Engine(), nullptr);
  EXPECT_TRUE(Button("btnExecutar")->isEnabled());
  EXPECT_FALSE(Button("btnCancelar")->isEnabled());
  EXPECT_TRUE(Label("lbTempoInicio")->text().isEmpty());
}

TEST_F(WindowTest, ExecutarWithoutBackupAsksAndNoChangesNothing) {
  w_.ChooseDatabase(database_);
  w_.AnswerBoxes({MessageAnswer::No});
  w_.Window().Executar();
  ASSERT_EQ(w_.Boxes().size(), 1u);
  const ShownBox box = w_.Boxes()[0];
  EXPECT_TRUE(
      box.text.startsWith(QStringLiteral("Nenhum backup do banco de dados foi informado.\r")));
  EXPECT_TRUE(box.text.endsWith(QStringLiteral("\rDeseja continuar assim mesmo?")));
  EXPECT_EQ(box.kind, MessageKind::Error);
  EXPECT_EQ(box.buttons, MessageButtons::YesNo);
  EXPECT_EQ(w_.Window().Engine(), nullptr);
  EXPECT_TRUE(Button("btnExecutar")->isEnabled());
  EXPECT_TRUE(Label("lbTempoInicio")->text().isEmpty());
}

TEST_F(WindowTest, ExecutarWithoutBackupAndYesRunsWithAnEmptyBackupPath) {
  std::string seenBackup = "unset";
  w_.ScriptSteps([&](ScriptedSteps& steps) {
    steps.Script("acessoExclusivo", [&](TRecoveryContext& context) {
      seenBackup = context.BackupPath();
      return false;
    });
  });
  w_.ChooseDatabase(database_);
  w_.AnswerBoxes({MessageAnswer::Yes});
  w_.Window().Executar();
  ASSERT_NE(w_.Window().Engine(), nullptr);
  ASSERT_TRUE(w_.WaitForRunEnd());
  EXPECT_EQ(seenBackup, "");
  ASSERT_EQ(w_.Boxes().size(), 2u);
  EXPECT_EQ(
      w_.Boxes()[1].text,
      QStringLiteral("O banco de dados estava em uso e não pôde ser validado.\r\rRelatório: ") +
          QString::fromStdString(w_.Window().Engine()->ReportPath()));
}

TEST_F(WindowTest, PickersFillTheirFieldsAndOnlyTheDatabaseResetsTheRows) {
  TFPrincipal& window = w_.Window();
  w_.PickFiles({QString()});
  window.btnSelecionarBancoCorrompidoClick();  // cancelled
  EXPECT_TRUE(w_.Find<QLineEdit>("eBancoCorrompido")->text().isEmpty());
  EXPECT_FALSE(Label("lbNivel01")->isEnabled());

  w_.ChooseDatabase(database_);
  EXPECT_EQ(w_.Find<QLineEdit>("eBancoCorrompido")->text(), database_);
  EXPECT_TRUE(Button("btnExecutar")->isEnabled());
  for (const char* name : {"lbTitulo", "lbNivel01", "lbAcessoExclusivo", "lbCriarCopiarResult",
                           "lbRestaurarBancoNivel01", "lbTituloLogs"}) {
    EXPECT_TRUE(Label(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Log()->isEnabled());
  EXPECT_FALSE(Label("lbNivel02")->isEnabled());
  EXPECT_FALSE(Label("lbValidacaoFinal")->isEnabled());

  // A run's leftovers: rows, times, log, saved logs.
  Run().ReportStep(StepKey::ValidarDados, StepPhase::Running, StepOutcome::None, "");
  Run().ReportStep(StepKey::ValidarDados, StepPhase::Finished, StepOutcome::Failure,
                   "Erros encontrados");
  Run().WriteLog("validação");
  Run().SnapshotStepLog(StepKey::ValidarDados);
  window.BeginRunDisplay();
  window.EndRunDisplay();
  window.WriteLog(QStringLiteral("linha"), -1);

  w_.PickFiles({QStringLiteral("/srv/backups/antigo.FBK")});
  window.btnSelecionarBackupClick();
  EXPECT_EQ(w_.Find<QLineEdit>("eUltimoBackup")->text(), QStringLiteral("/srv/backups/antigo.FBK"));
  EXPECT_EQ(Label("lbValidarDadosResult")->text(), QStringLiteral("Erros encontrados"));
  EXPECT_FALSE(Log()->toPlainText().isEmpty());

  w_.ChooseDatabase(database_);  // the same file again still resets
  EXPECT_TRUE(Label("lbValidarDadosStatus")->text().isEmpty());
  EXPECT_TRUE(Label("lbValidarDadosResult")->text().isEmpty());
  EXPECT_TRUE(w_.Find<QLabel>("lbValidarDadosLog")->isHidden());
  EXPECT_TRUE(Label("lbTempoInicio")->text().isEmpty());
  EXPECT_TRUE(Label("lbTempoTermino")->text().isEmpty());
  EXPECT_TRUE(Label("lbTempoDuracao")->text().isEmpty());
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  EXPECT_EQ(window.SavedStepLog(StepKey::ValidarDados), QStringList{QStringLiteral("validação")});

  EXPECT_EQ(w_.PickerFilters(),
            (QStringList{"Firebird Database (*.fdb)", "Firebird Database (*.fdb)",
                         "Firebird Backup (*.fbk)", "Firebird Database (*.fdb)"}));
}

TEST_F(WindowTest, BeginAndEndRunDisplaySwitchTheControls) {
  TFPrincipal& window = w_.Window();
  w_.ChooseDatabase(database_);
  window.WriteLog(QStringLiteral("antes"), -1);
  w_.SetNow(QDateTime(QDate(2027, 2, 1), QTime(23, 59, 50)));
  window.BeginRunDisplay();

  EXPECT_EQ(Label("lbTempoInicio")->text(), QStringLiteral("23:59:50"));
  EXPECT_TRUE(Label("imChronometerDisabled")->isHidden());
  for (const char* name : {"lbInicio", "lbTempoInicio", "lbTermino", "lbTempoTermino", "lbDuracao",
                           "lbTempoDuracao"}) {
    EXPECT_TRUE(Label(name)->isEnabled()) << name;
  }
  EXPECT_FALSE(Label("Label7")->isEnabled());
  EXPECT_FALSE(Label("Label8")->isEnabled());
  EXPECT_FALSE(w_.Find<QLineEdit>("eBancoCorrompido")->isEnabled());
  EXPECT_FALSE(w_.Find<QLineEdit>("eUltimoBackup")->isEnabled());
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  EXPECT_EQ(window.cursor().shape(), Qt::WaitCursor);
  EXPECT_EQ(Log()->viewport()->cursor().shape(), Qt::WaitCursor);
  EXPECT_FALSE(Button("btnSelecionarBancoCorrompido")->isEnabled());
  EXPECT_FALSE(Button("btnSelecionarBackup")->isEnabled());
  EXPECT_FALSE(Button("btnExaminar")->isEnabled());
  EXPECT_FALSE(Button("btnExecutar")->isEnabled());
  EXPECT_TRUE(Button("btnCancelar")->isEnabled());
  EXPECT_FALSE(Button("btnSalvarLog")->isEnabled());
  EXPECT_TRUE(w_.Find<QTimer>("Timer")->isActive());

  // During a run Salvar Log stays disabled whatever the log holds.
  window.WriteLog(QStringLiteral("gbak: restoring"), -1);
  EXPECT_FALSE(Button("btnSalvarLog")->isEnabled());

  w_.SetNow(QDateTime(QDate(2027, 2, 2), QTime(0, 0, 15, 900)));
  window.EndRunDisplay();
  EXPECT_FALSE(w_.Find<QTimer>("Timer")->isActive());
  EXPECT_EQ(Label("lbTempoTermino")->text(), QStringLiteral("00:00:15"));
  EXPECT_EQ(Label("lbTempoDuracao")->text(), QStringLiteral("00:00:25"));
  EXPECT_TRUE(Label("Label7")->isEnabled());
  EXPECT_TRUE(w_.Find<QLineEdit>("eUltimoBackup")->isEnabled());
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  EXPECT_NE(Log()->viewport()->cursor().shape(), Qt::WaitCursor);
  EXPECT_NE(window.cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(Button("btnSelecionarBancoCorrompido")->isEnabled());
  EXPECT_TRUE(Button("btnExaminar")->isEnabled());
  EXPECT_TRUE(Button("btnExecutar")->isEnabled());
  EXPECT_FALSE(Button("btnCancelar")->isEnabled());
  EXPECT_TRUE(Button("btnSalvarLog")->isEnabled());
  // The chronometer stays in colour and its labels enabled.
  EXPECT_TRUE(Label("imChronometerDisabled")->isHidden());
  EXPECT_TRUE(Label("lbTempoDuracao")->isEnabled());

  // A second EndRunDisplay measures again from the same start.
  window.WriteLog(QStringLiteral("x"), -1);
  w_.SetNow(QDateTime(QDate(2027, 2, 2), QTime(0, 1, 0)));
  window.EndRunDisplay();
  EXPECT_EQ(Label("lbTempoInicio")->text(), QStringLiteral("23:59:50"));
  EXPECT_EQ(Label("lbTempoTermino")->text(), QStringLiteral("00:01:00"));
  EXPECT_EQ(Label("lbTempoDuracao")->text(), QStringLiteral("00:01:10"));
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
}

TEST_F(WindowTest, ChronometerCountsAcrossMidnightAndDropsWholeDays) {
  const QString start = QStringLiteral("23:59:50");
  const QDate day(2027, 2, 1);
  EXPECT_EQ(TFPrincipal::ElapsedText(start, QDateTime(day, QTime(23, 59, 59, 999))),
            QStringLiteral("00:00:09"));
  EXPECT_EQ(TFPrincipal::ElapsedText(start, QDateTime(day.addDays(1), QTime(0, 0, 10))),
            QStringLiteral("00:00:20"));
  EXPECT_EQ(TFPrincipal::ElapsedText(QStringLiteral("10:00:00"),
                                     QDateTime(day.addDays(2), QTime(10, 0, 5))),
            QStringLiteral("00:00:05"));
  EXPECT_EQ(TFPrincipal::ElapsedText(QStringLiteral("10:00:00"),
                                     QDateTime(day.addDays(1), QTime(9, 59, 59))),
            QStringLiteral("23:59:59"));
  EXPECT_TRUE(TFPrincipal::ElapsedText(QString(), QDateTime(day, QTime(1, 0))).isEmpty());

  // The timer's tick reads the clock it was given.
  TFPrincipal& window = w_.Window();
  window.TimerTimer();  // no start time yet: nothing happens
  EXPECT_TRUE(Label("lbTempoDuracao")->text().isEmpty());
  w_.SetNow(QDateTime(day, QTime(23, 59, 50)));
  window.BeginRunDisplay();
  w_.SetNow(QDateTime(day.addDays(1), QTime(0, 2, 0)));
  window.TimerTimer();
  EXPECT_EQ(Label("lbTempoDuracao")->text(), QStringLiteral("00:02:10"));
  w_.SetNow(QDateTime(day.addDays(3), QTime(0, 0, 0)));
  window.TimerTimer();
  EXPECT_EQ(Label("lbTempoDuracao")->text(), QStringLiteral("00:00:10"));
  window.EndRunDisplay();
}

TEST_F(WindowTest, ReportStepDrawsEachPhaseAndOutcome) {
  TFPrincipal& window = w_.Window();
  QLabel* status = Label("lbValidarDadosStatus");
  QLabel* title = Label("lbValidarDados");
  QLabel* result = Label("lbValidarDadosResult");
  QLabel* link = Label("lbValidarDadosLog");

  // Finished without having run: the glyph stays empty.
  window.ReportStep(StepKey::ValidarDados, StepPhase::Finished, StepOutcome::Success,
                    QStringLiteral("Banco não possui erros."));
  EXPECT_TRUE(status->text().isEmpty());
  EXPECT_TRUE(title->isEnabled());
  EXPECT_EQ(result->text(), QStringLiteral("Banco não possui erros."));
  EXPECT_EQ(TextColour(result), QColor(0, 128, 0));
  EXPECT_TRUE(link->isHidden());

  window.ReportStep(StepKey::ValidarDados, StepPhase::Running, StepOutcome::None, QString());
  EXPECT_EQ(status->text(), TFPrincipal::CheckMark());
  EXPECT_TRUE(title->font().bold());
  EXPECT_EQ(result->text(), QStringLiteral("..."));
  EXPECT_EQ(TextColour(result), QColor(0, 0, 0));

  window.ReportStep(StepKey::ValidarDados, StepPhase::Finished, StepOutcome::Failure,
                    QStringLiteral("Erros encontrados"));
  EXPECT_EQ(status->text(), TFPrincipal::CheckMark());
  EXPECT_FALSE(title->font().bold());
  EXPECT_EQ(result->text(), QStringLiteral("Erros encontrados"));
  EXPECT_EQ(TextColour(result), QColor(255, 0, 0));
  EXPECT_FALSE(link->isHidden());

  // Not applicable greys and empties, but never hides a shown link.
  window.ReportStep(StepKey::ValidarDados, StepPhase::NotApplicable, StepOutcome::None, QString());
  EXPECT_TRUE(status->text().isEmpty());
  EXPECT_FALSE(title->isEnabled());
  EXPECT_FALSE(title->font().bold());
  EXPECT_TRUE(result->text().isEmpty());
  EXPECT_FALSE(link->isHidden());

  // Finished without an outcome: black text, no link.
  window.ReportStep(StepKey::FazerBackupNivel01, StepPhase::Finished, StepOutcome::None,
                    QStringLiteral("?"));
  EXPECT_EQ(TextColour(Label("lbFazerBackupNivel01Result")), QColor(0, 0, 0));
  EXPECT_TRUE(Label("lbFazerBackupNivel01Log")->isHidden());
  // Running with a failure: red dots and still no link.
  window.ReportStep(StepKey::RestaurarBancoNivel01, StepPhase::Running, StepOutcome::Failure,
                    QString());
  EXPECT_EQ(Label("lbRestaurarBancoNivel01Result")->text(), QStringLiteral("..."));
  EXPECT_EQ(TextColour(Label("lbRestaurarBancoNivel01Result")), QColor(255, 0, 0));
  EXPECT_TRUE(Label("lbRestaurarBancoNivel01Log")->isHidden());
  // The result label's enabled state is not ReportStep's business.
  EXPECT_FALSE(Label("lbRestaurarBancoNivel01Result")->isEnabled());

  // Keys outside the eleven steps change nothing and do not fail.
  window.ReportStep(StepAt(0), StepPhase::Running, StepOutcome::None, QString());
  window.ReportStep(StepAt(12), StepPhase::Finished, StepOutcome::Failure, QStringLiteral("x"));
  window.ClearStepRow(StepAt(99));

  window.ClearStepRow(StepKey::ValidarDados);
  EXPECT_TRUE(status->text().isEmpty());
  EXPECT_TRUE(result->text().isEmpty());
  EXPECT_EQ(TextColour(result), QColor(0, 0, 0));
  EXPECT_TRUE(link->isHidden());
  EXPECT_FALSE(title->isEnabled());  // enabled state left as it was
}

TEST_F(WindowTest, SetLevelRowsEnabledEnablesOneLevelAndKeepsExecutarOffDuringARun) {
  TFPrincipal& window = w_.Window();
  w_.ChooseDatabase(database_);
  window.BeginRunDisplay();
  window.SetLevelRowsEnabled(true, 2);
  EXPECT_FALSE(Button("btnExecutar")->isEnabled());
  for (const char* name :
       {"lbNivel02", "lbProcurarOrfaos", "lbProcurarOrfaosResult", "lbValidacaoFinal",
        "lbValidacaoFinalResult", "lbTitulo", "lbTituloLogs"}) {
    EXPECT_TRUE(Label(name)->isEnabled()) << name;
  }
  EXPECT_TRUE(Log()->isEnabled());
  EXPECT_TRUE(Label("lbValidacaoFinalLog")->isHidden());
  window.EndRunDisplay();

  // Any other level touches only the heading, the buttons and the log.
  ScriptedWindow fresh;
  fresh.Window().SetLevelRowsEnabled(true, 3);
  EXPECT_TRUE(fresh.Find<QLabel>("lbTitulo")->isEnabled());
  EXPECT_TRUE(fresh.Find<QPlainTextEdit>("log")->isEnabled());
  EXPECT_FALSE(fresh.Find<QLabel>("lbNivel01")->isEnabled());
  EXPECT_FALSE(fresh.Find<QLabel>("lbNivel02")->isEnabled());
  EXPECT_FALSE(fresh.Find<QLabel>("lbAcessoExclusivo")->isEnabled());
}

TEST_F(WindowTest, WriteLogAppendsReplacesAndIgnoresMissingLines) {
  TFPrincipal& window = w_.Window();
  window.WriteLog(QStringLiteral("nada"), 0);  // empty log: no line 0
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  window.WriteLog(QString(), -1);  // one empty line is a line
  window.WriteLog(QStringLiteral("gbak: 10%"), -1);
  window.WriteLog(QStringLiteral("gbak: 20%"), 1);
  window.WriteLog(QStringLiteral("fora"), 2);
  window.WriteLog(QStringLiteral("fim"), -1);
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("\ngbak: 20%\nfim"));
  window.ClearLog();
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  window.WriteLog(QStringLiteral("primeira"), -1);
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("primeira"));
}

TEST_F(WindowTest, SnapshotAndClicarLogShowTheSavedLogs) {
  TFPrincipal& window = w_.Window();
  w_.ChooseDatabase(database_);
  Run().WriteLog("Validation started");
  Run().WriteLog("Summary of validation errors");
  for (int key = 1; key <= 11; ++key) {
    Run().SnapshotStepLog(StepAt(key));
  }
  for (int key : {3, 4, 5, 6, 8, 9, 10}) {
    EXPECT_EQ(window.SavedStepLog(StepAt(key)).size(), 2) << key;
  }
  for (int key : {1, 2, 7, 11}) {
    EXPECT_TRUE(window.SavedStepLog(StepAt(key)).isEmpty()) << key;
  }
  Run().ClearLog();
  Run().SnapshotStepLog(StepKey::PrepararBackup);  // an empty log empties the saved one
  EXPECT_TRUE(window.SavedStepLog(StepKey::PrepararBackup).isEmpty());

  window.ClicarLog(StepKey::ValidarDados);
  EXPECT_EQ(Log()->toPlainText(),
            QStringLiteral("Validation started\nSummary of validation errors"));
  EXPECT_TRUE(Button("btnSalvarLog")->isEnabled());  // logChange ran
  window.ClicarLog(StepKey::PrepararBackup);
  EXPECT_TRUE(Log()->toPlainText().isEmpty());
  // Emptying does not run logChange: Salvar Log keeps its state.
  EXPECT_TRUE(Button("btnSalvarLog")->isEnabled());

  // A click on the link itself.
  window.ReportStep(StepKey::FazerBackupNivel01, StepPhase::Finished, StepOutcome::Failure,
                    QStringLiteral("Erro durante o backup"));
  QLabel* link = Label("lbFazerBackupNivel01Log");
  ASSERT_FALSE(link->isHidden());
  window.show();
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(Log()->toPlainText(),
            QStringLiteral("Validation started\nSummary of validation errors"));
}

TEST_F(WindowTest, LinksOfRowsWithoutSavedLogShowWhatTheStepLeft) {
  TFPrincipal& window = w_.Window();
  // Row 1: the question asked while the step ran.
  Run().ReportStep(StepKey::AcessoExclusivo, StepPhase::Running, StepOutcome::None, "");
  Run().Ask(QuestionId::RetryActiveConnections, "Há outras conexões.\rDeseja continuar?",
            MessageKind::Confirmation);
  Run().ReportStep(StepKey::AcessoExclusivo, StepPhase::Finished, StepOutcome::Failure,
                   "Não foi possível obter acesso exlusivo.");
  // Row 2: nothing asked: its result says why.
  Run().ReportStep(StepKey::CriarCopia, StepPhase::Running, StepOutcome::None, "");
  Run().ReportStep(StepKey::CriarCopia, StepPhase::Finished, StepOutcome::Failure,
                   "Não foi possível realizar a cópia de segurança.");
  // Row 7: the analysis as it stood when the step ended.
  Run().ReportStep(StepKey::ProcurarOrfaos, StepPhase::Running, StepOutcome::None, "");
  Run().ClearLog();
  Run().WriteLog("RESUMO");
  Run().ReportStep(StepKey::ProcurarOrfaos, StepPhase::Finished, StepOutcome::Success,
                   "Inconsistências encontradas.");
  Run().WriteLog("depois");
  // Row 11: the final validation's saved log.
  Run().ClearLog();
  Run().WriteLog("Summary of validation errors");
  Run().SnapshotStepLog(StepKey::ValidarDados);
  Run().ReportStep(StepKey::ValidacaoFinal, StepPhase::Running, StepOutcome::None, "");
  Run().ReportStep(StepKey::ValidacaoFinal, StepPhase::Finished, StepOutcome::Failure,
                   "Erros encontrados");

  window.ClicarLog(StepKey::AcessoExclusivo);
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("Há outras conexões.\nDeseja continuar?"));
  window.ClicarLog(StepKey::CriarCopia);
  EXPECT_EQ(Log()->toPlainText(),
            QStringLiteral("Não foi possível realizar a cópia de segurança."));
  window.ClicarLog(StepKey::ProcurarOrfaos);
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("RESUMO"));
  window.ClicarLog(StepKey::ValidacaoFinal);
  EXPECT_EQ(Log()->toPlainText(), QStringLiteral("Summary of validation errors"));
}

TEST_F(WindowTest, CancelarWithoutARunAsksNothing) {
  // The run display without a run behind it (the engine could not start).
  TFPrincipal& window = w_.Window();
  window.BeginRunDisplay();
  window.btnCancelarClick();
  EXPECT_TRUE(w_.Boxes().empty());
  EXPECT_TRUE(Button("btnCancelar")->isEnabled());
  EXPECT_TRUE(w_.Find<QTimer>("Timer")->isActive());
  window.EndRunDisplay();
}

TEST_F(WindowTest, SalvarLogWritesTheShownTextAsUtf8) {
  TFPrincipal& window = w_.Window();
  window.WriteLog(QStringLiteral("Validação concluída"), -1);
  window.WriteLog(QStringLiteral("órfãos: 2"), -1);
  const QString target = folder_.filePath(QStringLiteral("log.txt"));
  w_.SaveTo(QString());
  window.btnSalvarLogClick();  // cancelled
  EXPECT_FALSE(QFile::exists(target));

  w_.SaveTo(target);
  window.btnSalvarLogClick();
  QFile saved(target);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), QByteArray("Validação concluída\nórfãos: 2\n"));
  EXPECT_TRUE(w_.Boxes().empty());

  w_.SaveTo(folder_.filePath(QStringLiteral("sem/pasta/log.txt")));
  window.btnSalvarLogClick();
  ASSERT_EQ(w_.Boxes().size(), 1u);
  EXPECT_EQ(w_.Boxes()[0].kind, MessageKind::Error);
  EXPECT_TRUE(w_.Boxes()[0].text.startsWith(QStringLiteral("Não foi possível salvar o log em ")));
}

TEST_F(WindowTest, PlaceOnScreenGivesTheFormItsOuterSize) {
  w_.Window().show();
  w_.Window().PlaceOnScreen();
  EXPECT_EQ(w_.Window().frameGeometry().size(), QSize(945, 563));
}

}  // namespace

#include "app/TMainForm.h"

#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <iterator>

#include "app/WidgetStyle.h"

// The pictures live in the library's resource file; a static library needs
// its resources registered by hand. Q_INIT_RESOURCE must be used outside any
// namespace.
static void RegisterPictures() {
  Q_INIT_RESOURCE(tessarine);
}

namespace {

const QColor kWindowColour(240, 240, 240);
const QString kTimeFormat = QStringLiteral("HH:mm:ss");

}  // namespace

TMainForm::TMainForm(QWidget& window) : window_(window) {
  RegisterPictures();
  SetUpWindow();
  CreateHeadings();
  CreateChronometer();
  CreateLogPane();
  CreateInputs();
  CreateButtons();
}

void TMainForm::SetUpWindow() {
  window_.setObjectName(QStringLiteral("FPrincipal"));
  window_.setWindowTitle(QStringLiteral("Tessarine by Varlune"));
  window_.setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                         Qt::WindowCloseButtonHint);
  QPalette palette = window_.palette();
  palette.setColor(QPalette::Window, kWindowColour);
  window_.setPalette(palette);
  window_.setAutoFillBackground(true);
  window_.setFont(TahomaFont(11));
  // The client area of a 945 x 563 frame with the usual decorations;
  // FitOuterSize corrects it once the real frame is known.
  window_.resize(kOuterWidth - 16, kOuterHeight - 39);
}

void TMainForm::CreateHeadings() {
  QWidget* const parent = &window_;
  const QFont bold11 = TahomaFont(11, true);
  lbTitulo = MakeLabel(parent, "lbTitulo", QStringLiteral("Procedimentos que podem ser realizados"),
                       26, 8, bold11);
  SetTextColour(lbTitulo, QColor(0, 128, 192));
  lbTitulo->setEnabled(false);
  lbNivel01 = MakeLabel(parent, "lbNivel01", QStringLiteral("NIVEL 01"), 25, 32, bold11);
  SetTextColour(lbNivel01, QColor(255, 0, 0));
  lbNivel01->setEnabled(false);
  Bevel4 = MakeRule(parent, "Bevel4", QRect(76, 43, 403, 2), false);
  lbNivel02 = MakeLabel(parent, "lbNivel02", QStringLiteral("NIVEL 02"), 25, 208, bold11);
  SetTextColour(lbNivel02, QColor(255, 0, 0));
  lbNivel02->setEnabled(false);
  Bevel5 = MakeRule(parent, "Bevel5", QRect(76, 218, 403, 2), false);
  Bevel3 = MakeRule(parent, "Bevel3", QRect(24, 352, 452, 2), false);
}

void TMainForm::CreateChronometer() {
  QWidget* const parent = &window_;
  imChronometer = new QLabel(parent);
  imChronometer->setObjectName(QStringLiteral("imChronometer"));
  imChronometer->setGeometry(24, 366, 23, 30);
  imChronometer->setPixmap(
      QPixmap::fromImage(ReadPicture(QStringLiteral(":/images/chronometer.jpg"))));
  imChronometerDisabled = new QLabel(parent);
  imChronometerDisabled->setObjectName(QStringLiteral("imChronometerDisabled"));
  imChronometerDisabled->setGeometry(24, 366, 23, 30);
  imChronometerDisabled->setPixmap(
      QPixmap::fromImage(ReadPicture(QStringLiteral(":/images/chronometer_disabled.jpg"))));
  imChronometerDisabled->raise();

  const QFont font13 = TahomaFont(13);
  const QFont font16 = TahomaFont(16);
  lbInicio = MakeLabel(parent, "lbInicio", QStringLiteral("Início:"), 64, 363, font13);
  lbTempoInicio = MakeLabel(parent, "lbTempoInicio", QString(), 116, 362, font16);
  lbTempoInicio->setGeometry(116, 362, 80, 19);
  SetTextColour(lbTempoInicio, QColor(0, 128, 192));
  lbTermino = MakeLabel(parent, "lbTermino", QStringLiteral("Término:"), 62, 387, font13);
  lbTempoTermino = MakeLabel(parent, "lbTempoTermino", QString(), 116, 386, font16);
  lbTempoTermino->setGeometry(116, 386, 80, 19);
  SetTextColour(lbTempoTermino, QColor(0, 128, 64));
  lbDuracao = MakeLabel(parent, "lbDuracao", QStringLiteral("Duração:"), 349, 363, font13);
  lbTempoDuracao = MakeLabel(parent, "lbTempoDuracao", QString(), 402, 362, font16);
  lbTempoDuracao->setGeometry(402, 362, 71, 19);
  SetTextColour(lbTempoDuracao, QColor(128, 128, 64));
  for (QLabel* time : {lbTempoInicio, lbTempoTermino, lbTempoDuracao}) {
    time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  SetTimesEnabled(false);
}

void TMainForm::CreateLogPane() {
  QWidget* const parent = &window_;
  Bevel2 = MakeRule(parent, "Bevel2", QRect(487, 12, 2, 390), true);
  lbTituloLogs = MakeLabel(parent, "lbTituloLogs", QStringLiteral("Resultados da tarefas atual"),
                           496, 8, TahomaFont(11));
  SetTextColour(lbTituloLogs, QColor(54, 54, 54));
  lbTituloLogs->setEnabled(false);

  log = new QPlainTextEdit(parent);
  log->setObjectName(QStringLiteral("log"));
  log->setGeometry(496, 24, 417, 345);
  log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log->setEnabled(false);

  btnSalvarLog =
      MakeButton(parent, "btnSalvarLog", QStringLiteral("Salvar Log"), QRect(831, 379, 83, 25));
  btnSalvarLog->setEnabled(false);

  Bevel1 = MakeRule(parent, "Bevel1", QRect(24, 410, 889, 2), false);
}

void TMainForm::CreateInputs() {
  QWidget* const parent = &window_;
  const QFont windowFont = TahomaFont(11);
  Label7 =
      MakeLabel(parent, "Label7", QStringLiteral("Banco de dados corrompido"), 23, 420, windowFont);
  Label8 =
      MakeLabel(parent, "Label8", QStringLiteral("Último backup válido"), 471, 420, windowFont);
  auto makeStrip = [parent](const char* name, const QRect& geometry) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(QLatin1String(name));
    panel->setGeometry(geometry);
    QPalette white = panel->palette();
    white.setColor(QPalette::Window, Qt::white);
    panel->setPalette(white);
    panel->setAutoFillBackground(true);
    return panel;
  };
  auto makeField = [](QWidget* panel, const char* name) {
    auto* field = new QLineEdit(panel);
    field->setObjectName(QLatin1String(name));
    field->setReadOnly(true);
    field->setFrame(false);
    field->setTextMargins(0, 0, 0, 0);
    // Inside its strip at (4, 6): client position strip + (4, 6).
    field->setGeometry(4, 6, 357, 19);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::white);
    field->setPalette(palette);
    return field;
  };
  Panel1 = makeStrip("Panel1", QRect(23, 436, 364, 25));
  eBancoCorrompido = makeField(Panel1, "eBancoCorrompido");
  Panel2 = makeStrip("Panel2", QRect(471, 436, 364, 25));
  eUltimoBackup = makeField(Panel2, "eUltimoBackup");
}

void TMainForm::CreateButtons() {
  QWidget* const parent = &window_;
  btnSelecionarBancoCorrompido = MakeButton(parent, "btnSelecionarBancoCorrompido",
                                            QStringLiteral("Selecionar"), QRect(388, 436, 77, 25));
  SetTextColour(btnSelecionarBancoCorrompido, Qt::black);
  btnSelecionarBackup = MakeButton(parent, "btnSelecionarBackup", QStringLiteral("Selecionar"),
                                   QRect(836, 436, 77, 25));

  btnExaminar =
      MakeButton(parent, "btnExaminar", QStringLiteral("Examinar"), QRect(584, 474, 105, 37));
  btnExecutar =
      MakeButton(parent, "btnExecutar", QStringLiteral("Executar"), QRect(696, 474, 105, 37));
  btnExecutar->setIcon(StripIcon(QStringLiteral(":/images/play.jpg")));
  btnExecutar->setIconSize(QSize(31, 25));
  btnCancelar =
      MakeButton(parent, "btnCancelar", QStringLiteral("Cancelar"), QRect(808, 473, 105, 37));
  btnCancelar->setIcon(StripIcon(QStringLiteral(":/images/stop.jpg")));
  btnCancelar->setIconSize(QSize(31, 25));
  btnCancelar->setEnabled(false);

  Timer = new QTimer(parent);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(1000);

  OpenDialog1 = new QFileDialog(parent);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // Like the classic open dialog, a typed name need not exist yet; the run's
  // own checks refuse a missing database.
  OpenDialog1->setFileMode(QFileDialog::AnyFile);
}

void TMainForm::SetTabOrder() {
  QWidget* const order[] = {btnSelecionarBancoCorrompido,
                            btnSelecionarBackup,
                            btnExaminar,
                            btnExecutar,
                            eBancoCorrompido,
                            eUltimoBackup,
                            log,
                            btnSalvarLog,
                            btnCancelar};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    QWidget::setTabOrder(order[i], order[i + 1]);
  }
}

void TMainForm::FitOuterSize() {
  const QSize frameExtra = window_.frameGeometry().size() - window_.geometry().size();
  const QSize client(kOuterWidth - frameExtra.width(), kOuterHeight - frameExtra.height());
  if (window_.size() == client) {
    return;
  }
  window_.resize(client);
  if (const QScreen* where = window_.screen()) {
    const QRect area = where->availableGeometry();
    window_.move(area.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
  }
}

void TMainForm::SetTimesEnabled(bool enabled) {
  for (QLabel* label :
       {lbInicio, lbTempoInicio, lbTermino, lbTempoTermino, lbDuracao, lbTempoDuracao}) {
    label->setEnabled(enabled);
  }
}

void TMainForm::SetIdleControlsEnabled(bool enabled) {
  for (QWidget* control : std::initializer_list<QWidget*>{
           Label7, eBancoCorrompido, Label8, eUltimoBackup, btnSelecionarBancoCorrompido,
           btnSelecionarBackup, btnExaminar, btnExecutar}) {
    control->setEnabled(enabled);
  }
  btnCancelar->setEnabled(!enabled);
}

void TMainForm::ShowRunStarted(const QDateTime& start) {
  window_.setCursor(Qt::WaitCursor);
  lbTempoInicio->setText(start.time().toString(kTimeFormat));
  lbTempoTermino->clear();
  lbTempoDuracao->clear();
  // The chronometer stays in colour from the first run on.
  imChronometerDisabled->hide();
  SetTimesEnabled(true);
  SetIdleControlsEnabled(false);
  log->viewport()->setCursor(Qt::WaitCursor);
  btnSalvarLog->setEnabled(false);
  Timer->start();
}

void TMainForm::ShowRunEnded(const QDateTime& end) {
  Timer->stop();
  lbTempoTermino->setText(end.time().toString(kTimeFormat));
  lbTempoDuracao->setText(ElapsedText(lbTempoInicio->text(), end));
  SetIdleControlsEnabled(true);
  log->viewport()->unsetCursor();
  btnSalvarLog->setEnabled(true);
  window_.unsetCursor();
}

void TMainForm::ShowElapsed(const QDateTime& now) {
  if (lbTempoInicio->text().isEmpty()) {
    return;
  }
  lbTempoDuracao->setText(ElapsedText(lbTempoInicio->text(), now));
}

void TMainForm::ClearTimes() {
  lbTempoInicio->clear();
  lbTempoTermino->clear();
  lbTempoDuracao->clear();
}

QString TMainForm::ElapsedText(const QString& startText, const QDateTime& end) {
  const QTime start = QTime::fromString(startText, kTimeFormat);
  if (!start.isValid() || !end.isValid()) {
    return QString();
  }
  // Only the time of day of (end - start) counts: right across midnight,
  // and whole days drop out.
  constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;
  qint64 elapsed = (end.time().msecsSinceStartOfDay() - start.msecsSinceStartOfDay()) % kDayMs;
  if (elapsed < 0) {
    elapsed += kDayMs;
  }
  return QTime::fromMSecsSinceStartOfDay(static_cast<int>(elapsed / 1000 * 1000))
      .toString(kTimeFormat);
}

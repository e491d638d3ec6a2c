#include "app/TFPrincipal.h"

#include "engine/TCredentialSource.h"
#include "engine/TRunInputs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "app/TLinkLabel.h"
#include "app/TLoginDialog.h"
#include "app/TMessageDialog.h"
#include "app/TWindowHost.h"

// The pictures live in the library's resource file; a static library needs
// its resources registered by hand. Q_INIT_RESOURCE must be used outside any
// namespace.
static void RegisterPictures() {
  Q_INIT_RESOURCE(tessarine);
}

namespace {

struct StepInfo {
  const char* stem;
  const char* resultName;
  int top;
  const char* title;
};

// Step keys 1 to 11 in run order; row 2's result label keeps its odd name.
constexpr StepInfo kSteps[TFPrincipal::kStepCount] = {
    {"AcessoExclusivo", "lbAcessoExclusivoResult", 56, "Obter acesso exclusivo"},
    {"CriarCopia", "lbCriarCopiarResult", 80, "Criar cópia de segurança"},
    {"ValidarDados", "lbValidarDadosResult", 104, "Validar dados e estrutura"},
    {"PrepararBackup", "lbPrepararBackupResult", 128, "Preparar para backup"},
    {"FazerBackupNivel01", "lbFazerBackupNivel01Result", 152, "Fazer backup"},
    {"RestaurarBancoNivel01", "lbRestaurarBancoNivel01Result", 176, "Restaurar banco de dados"},
    {"ProcurarOrfaos", "lbProcurarOrfaosResult", 232, "Procurar registros órfãos"},
    {"RecuperarDados", "lbRecuperarDadosResult", 256, "Recuperar dados antigos"},
    {"FazerBackupNivel02", "lbFazerBackupNivel02Result", 280, "Fazer backup"},
    {"RestaurarBancoNivel02", "lbRestaurarBancoNivel02Result", 304, "Restaurar banco de dados"},
    {"ValidacaoFinal", "lbValidacaoFinalResult", 328, "Validação final"},
};

constexpr int kSavedLogKeys[] = {3, 4, 5, 6, 8, 9, 10};

const QColor kWindowColour(240, 240, 240);
const QColor kSuccessColour(0, 128, 0);
const QColor kFailureColour(255, 0, 0);
const QColor kNeutralColour(0, 0, 0);

const QString kTimeFormat = QStringLiteral("HH:mm:ss");

bool HasSavedLog(int key) {
  for (int saved : kSavedLogKeys) {
    if (saved == key) {
      return true;
    }
  }
  return false;
}

// Tahoma at a pixel size; where Tahoma is missing, a sans font of the same size.
QFont TahomaFont(int pixelSize, bool bold = false) {
  QFont font;
  font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("Liberation Sans"),
                    QStringLiteral("Arial"), QStringLiteral("Nimbus Sans"),
                    QStringLiteral("DejaVu Sans")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(pixelSize);
  font.setBold(bold);
  return font;
}

bool HasWingdings() {
  return QFontDatabase::hasFamily(QStringLiteral("Wingdings"));
}

QFont GlyphFont() {
  if (HasWingdings()) {
    QFont font(QStringLiteral("Wingdings"));
    font.setPixelSize(16);
    return font;
  }
  return TahomaFont(16);
}

// Text colour while enabled; a disabled control keeps the style's grey.
void SetTextColour(QWidget* widget, const QColor& colour) {
  QPalette palette = widget->palette();
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    palette.setColor(group, QPalette::WindowText, colour);
    palette.setColor(group, QPalette::ButtonText, colour);
  }
  widget->setPalette(palette);
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                  const QFont& font) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QLatin1String(name));
  label->setFont(font);
  label->move(x, y);
  label->adjustSize();
  return label;
}

QFrame* MakeRule(QWidget* parent, const char* name, const QRect& geometry, bool vertical) {
  auto* rule = new QFrame(parent);
  rule->setObjectName(QLatin1String(name));
  rule->setFrameShape(vertical ? QFrame::VLine : QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  rule->setGeometry(geometry);
  return rule;
}

// Pictures are JPEG files in the resources, decoded by Qt's image reader.
QImage ReadPicture(const QString& path) {
  QImageReader reader(path);
  QImage image = reader.read();
  if (image.isNull()) {
    qWarning("Tessarine: cannot read picture %s: %s", qPrintable(path),
             qPrintable(reader.errorString()));
  }
  return image;
}

// The button's strip holds the enabled and the disabled picture side by side.
// The icon carries a transparent margin so that 10 px separate picture and
// caption (the style itself puts 4 px between them).
QIcon StripIcon(const QString& path) {
  const QImage strip = ReadPicture(path);
  QIcon icon;
  if (strip.isNull()) {
    return icon;
  }
  const int side = strip.height();
  for (int part = 0; part < 2; ++part) {
    QPixmap padded(side + 6, side);
    padded.fill(Qt::transparent);
    QPainter painter(&padded);
    painter.drawImage(0, 0, strip.copy(part * side, 0, side, side));
    painter.end();
    icon.addPixmap(padded, part == 0 ? QIcon::Normal : QIcon::Disabled);
  }
  return icon;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QRect& geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(QLatin1String(name));
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  return button;
}

}  // namespace

TFPrincipal::TFPrincipal(TThreadRecovery::StepsFactory stepsFactory, QWidget* parent)
    : QWidget(parent),
      stepsFactory_(std::move(stepsFactory)),
      host_(std::make_unique<TWindowHost>(*this)) {
  RegisterPictures();
  SetOpenFilePicker(nullptr);
  SetSaveFilePicker(nullptr);
  clock_ = [] { return QDateTime::currentDateTime(); };

  setObjectName(QStringLiteral("FPrincipal"));
  setWindowTitle(QStringLiteral("Tessarine by Varlune"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, kWindowColour);
  setPalette(palette);
  setAutoFillBackground(true);
  setFont(TahomaFont(11));
  // The client area of a 945 x 563 frame with the usual decorations;
  // PlaceOnScreen corrects it once the real frame is known.
  resize(kOuterWidth - 16, kOuterHeight - 39);

  CreateControls();
  CreateStepRows();
  SetTabOrder();
  FormCreate();
}

TFPrincipal::~TFPrincipal() {
  if (engine_) {
    engine_->Cancel();
  }
  host_->Close();
  engine_.reset();
}

void TFPrincipal::SetOpenFilePicker(FilePickerFunction function) {
  openFile_ =
      function ? std::move(function) : [this](const QString& filter, const QString& folder) {
        return ChooseFile(filter, folder);
      };
}

void TFPrincipal::SetSaveFilePicker(FilePickerFunction function) {
  saveFile_ =
      function ? std::move(function) : [this](const QString& filter, const QString& folder) {
        return ChooseSaveFile(filter, folder);
      };
}

QString TFPrincipal::CancelQuestion() {
  return QStringLiteral("Deseja cancelar a execução? Os arquivos do usuário serão mantidos.");
}

void TFPrincipal::CreateControls() {
  const QFont bold11 = TahomaFont(11, true);
  lbTitulo = MakeLabel(this, "lbTitulo", QStringLiteral("Procedimentos que podem ser realizados"),
                       26, 8, bold11);
  SetTextColour(lbTitulo, QColor(0, 128, 192));
  lbTitulo->setEnabled(false);
  lbNivel01 = MakeLabel(this, "lbNivel01", QStringLiteral("NIVEL 01"), 25, 32, bold11);
  SetTextColour(lbNivel01, QColor(255, 0, 0));
  lbNivel01->setEnabled(false);
  Bevel4 = MakeRule(this, "Bevel4", QRect(76, 43, 403, 2), false);
  lbNivel02 = MakeLabel(this, "lbNivel02", QStringLiteral("NIVEL 02"), 25, 208, bold11);
  SetTextColour(lbNivel02, QColor(255, 0, 0));
  lbNivel02->setEnabled(false);
  Bevel5 = MakeRule(this, "Bevel5", QRect(76, 218, 403, 2), false);
  Bevel3 = MakeRule(this, "Bevel3", QRect(24, 352, 452, 2), false);

  imChronometer = new QLabel(this);
  imChronometer->setObjectName(QStringLiteral("imChronometer"));
  imChronometer->setGeometry(24, 366, 23, 30);
  imChronometer->setPixmap(
      QPixmap::fromImage(ReadPicture(QStringLiteral(":/images/chronometer.jpg"))));
  imChronometerDisabled = new QLabel(this);
  imChronometerDisabled->setObjectName(QStringLiteral("imChronometerDisabled"));
  imChronometerDisabled->setGeometry(24, 366, 23, 30);
  imChronometerDisabled->setPixmap(
      QPixmap::fromImage(ReadPicture(QStringLiteral(":/images/chronometer_disabled.jpg"))));
  imChronometerDisabled->raise();

  const QFont font13 = TahomaFont(13);
  const QFont font16 = TahomaFont(16);
  lbInicio = MakeLabel(this, "lbInicio", QStringLiteral("Início:"), 64, 363, font13);
  lbTempoInicio = MakeLabel(this, "lbTempoInicio", QString(), 116, 362, font16);
  lbTempoInicio->setGeometry(116, 362, 80, 19);
  SetTextColour(lbTempoInicio, QColor(0, 128, 192));
  lbTermino = MakeLabel(this, "lbTermino", QStringLiteral("Término:"), 62, 387, font13);
  lbTempoTermino = MakeLabel(this, "lbTempoTermino", QString(), 116, 386, font16);
  lbTempoTermino->setGeometry(116, 386, 80, 19);
  SetTextColour(lbTempoTermino, QColor(0, 128, 64));
  lbDuracao = MakeLabel(this, "lbDuracao", QStringLiteral("Duração:"), 349, 363, font13);
  lbTempoDuracao = MakeLabel(this, "lbTempoDuracao", QString(), 402, 362, font16);
  lbTempoDuracao->setGeometry(402, 362, 71, 19);
  SetTextColour(lbTempoDuracao, QColor(128, 128, 64));
  for (QLabel* time : {lbTempoInicio, lbTempoTermino, lbTempoDuracao}) {
    time->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  for (QLabel* label :
       {lbInicio, lbTempoInicio, lbTermino, lbTempoTermino, lbDuracao, lbTempoDuracao}) {
    label->setEnabled(false);
  }

  Bevel2 = MakeRule(this, "Bevel2", QRect(487, 12, 2, 390), true);
  lbTituloLogs = MakeLabel(this, "lbTituloLogs", QStringLiteral("Resultados da tarefas atual"), 496,
                           8, TahomaFont(11));
  SetTextColour(lbTituloLogs, QColor(54, 54, 54));
  lbTituloLogs->setEnabled(false);

  log = new QPlainTextEdit(this);
  log->setObjectName(QStringLiteral("log"));
  log->setGeometry(496, 24, 417, 345);
  log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  log->setEnabled(false);
  connect(log, &QPlainTextEdit::textChanged, this, [this] {
    if (!emptyingLog_) {
      logChange();
    }
  });

  btnSalvarLog =
      MakeButton(this, "btnSalvarLog", QStringLiteral("Salvar Log"), QRect(831, 379, 83, 25));
  btnSalvarLog->setEnabled(false);
  connect(btnSalvarLog, &QPushButton::clicked, this, [this] { btnSalvarLogClick(); });

  Bevel1 = MakeRule(this, "Bevel1", QRect(24, 410, 889, 2), false);

  const QFont windowFont = TahomaFont(11);
  Label7 =
      MakeLabel(this, "Label7", QStringLiteral("Banco de dados corrompido"), 23, 420, windowFont);
  Label8 = MakeLabel(this, "Label8", QStringLiteral("Último backup válido"), 471, 420, windowFont);
  auto makeStrip = [this](const char* name, const QRect& geometry) {
    auto* panel = new QWidget(this);
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

  btnSelecionarBancoCorrompido = MakeButton(this, "btnSelecionarBancoCorrompido",
                                            QStringLiteral("Selecionar"), QRect(388, 436, 77, 25));
  SetTextColour(btnSelecionarBancoCorrompido, Qt::black);
  connect(btnSelecionarBancoCorrompido, &QPushButton::clicked, this,
          [this] { btnSelecionarBancoCorrompidoClick(); });
  btnSelecionarBackup = MakeButton(this, "btnSelecionarBackup", QStringLiteral("Selecionar"),
                                   QRect(836, 436, 77, 25));
  connect(btnSelecionarBackup, &QPushButton::clicked, this, [this] { btnSelecionarBackupClick(); });

  btnExaminar =
      MakeButton(this, "btnExaminar", QStringLiteral("Examinar"), QRect(584, 474, 105, 37));
  connect(btnExaminar, &QPushButton::clicked, this, [this] { btnExaminarClick(); });
  btnExecutar =
      MakeButton(this, "btnExecutar", QStringLiteral("Executar"), QRect(696, 474, 105, 37));
  btnExecutar->setIcon(StripIcon(QStringLiteral(":/images/play.jpg")));
  btnExecutar->setIconSize(QSize(31, 25));
  connect(btnExecutar, &QPushButton::clicked, this, [this] { Executar(); });
  btnCancelar =
      MakeButton(this, "btnCancelar", QStringLiteral("Cancelar"), QRect(808, 473, 105, 37));
  btnCancelar->setIcon(StripIcon(QStringLiteral(":/images/stop.jpg")));
  btnCancelar->setIconSize(QSize(31, 25));
  btnCancelar->setEnabled(false);
  connect(btnCancelar, &QPushButton::clicked, this, [this] { btnCancelarClick(); });

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  closeWhenDone_ = new QTimer(this);
  closeWhenDone_->setInterval(50);
  connect(closeWhenDone_, &QTimer::timeout, this, [this] {
    if (!engine_ || engine_->Finished()) {
      closeWhenDone_->stop();
      close();
    }
  });

  OpenDialog1 = new QFileDialog(this);
  OpenDialog1->setObjectName(QStringLiteral("OpenDialog1"));
  OpenDialog1->setOption(QFileDialog::DontUseNativeDialog, true);
  OpenDialog1->setAcceptMode(QFileDialog::AcceptOpen);
  // Like the classic open dialog, a typed name need not exist yet; the run's
  // own checks refuse a missing database.
  OpenDialog1->setFileMode(QFileDialog::AnyFile);
}

void TFPrincipal::CreateStepRows() {
  const QFont glyphFont = GlyphFont();
  const QFont resultFont = TahomaFont(11);
  const int lineHeight = QFontMetrics(resultFont).height();
  for (int index = 0; index < kStepCount; ++index) {
    const StepInfo& info = kSteps[index];
    const QString stem = QLatin1String(info.stem);
    StepRow& row = rows_[static_cast<std::size_t>(index)];

    row.status = new QLabel(this);
    row.status->setObjectName(QStringLiteral("lb") + stem + QStringLiteral("Status"));
    row.status->setFont(glyphFont);
    row.status->setGeometry(8, info.top - 1, 17, QFontMetrics(glyphFont).height());
    SetTextColour(row.status, QColor(0, 128, 64));

    row.title = MakeLabel(this, "", QString::fromUtf8(info.title), 25, info.top, font());
    row.title->setObjectName(QStringLiteral("lb") + stem);
    row.title->setEnabled(false);

    row.result = new QLabel(this);
    row.result->setObjectName(QLatin1String(info.resultName));
    row.result->setFont(resultFont);
    row.result->setGeometry(192, info.top, 246, lineHeight);
    SetTextColour(row.result, QColor(0, 128, 192));
    row.result->setEnabled(false);

    row.log = new TLinkLabel(QStringLiteral("Ver log"), index + 1, this);
    row.log->setObjectName(QStringLiteral("lb") + stem + QStringLiteral("Log"));
    row.log->setFont(resultFont);
    SetTextColour(row.log, QColor(0, 0, 255));
    row.log->move(444, info.top);
    row.log->adjustSize();
    row.log->hide();
    connect(row.log, &TLinkLabel::clicked, this, [this](int key) { ClicarLog(key); });
  }
}

void TFPrincipal::SetTabOrder() {
  const QWidget* order[] = {btnSelecionarBancoCorrompido,
                            btnSelecionarBackup,
                            btnExaminar,
                            btnExecutar,
                            eBancoCorrompido,
                            eUltimoBackup,
                            log,
                            btnSalvarLog,
                            btnCancelar};
  for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
    setTabOrder(const_cast<QWidget*>(order[i]), const_cast<QWidget*>(order[i + 1]));
  }
}

void TFPrincipal::FormCreate() {
  savedStepLogs_.clear();
  for (int key : kSavedLogKeys) {
    savedStepLogs_[key] = QStringList();
  }
}

void TFPrincipal::PlaceOnScreen() {
  FitOuterSize();
  // A window manager adds its frame only after the window is mapped: measure
  // again once it had the time to do so.
  QTimer::singleShot(300, this, [this] { FitOuterSize(); });
}

void TFPrincipal::FitOuterSize() {
  const QSize frameExtra = frameGeometry().size() - geometry().size();
  const QSize client(kOuterWidth - frameExtra.width(), kOuterHeight - frameExtra.height());
  if (size() == client) {
    return;
  }
  resize(client);
  if (QScreen* where = screen()) {
    const QRect area = where->availableGeometry();
    move(area.center() - QPoint(kOuterWidth / 2, kOuterHeight / 2));
  }
}

void TFPrincipal::closeEvent(QCloseEvent* event) {
  if (RunGoing()) {
    // The window stays until the run has ended: the process must never end
    // while the server writes a database under the user's name.
    event->ignore();
    if (!closeAfterRun_ && CancelRun()) {
      closeAfterRun_ = true;
      closeWhenDone_->start();
    }
    return;
  }
  // From now on every call of the engine ends its run at once instead of waiting.
  host_->Close();
  event->accept();
}

bool TFPrincipal::EndRunOnExit(std::chrono::milliseconds timeout) {
  if (engine_) {
    engine_->Cancel();
  }
  host_->Close();
  if (!engine_) {
    return true;
  }
  if (!engine_->WaitFor(timeout)) {
    return false;
  }
  engine_.reset();
  return true;
}

// ---- Seams -------------------------------------------------------------

QString TFPrincipal::ChooseFile(const QString& filter, const QString& folder) {
  OpenDialog1->setNameFilter(filter);
  if (!folder.isEmpty()) {
    OpenDialog1->setDirectory(folder);
  }
  // The name field keeps the last file picked (selectFile ignores an empty
  // name): Enter would pick the corrupt database as the backup.
  if (auto* name = OpenDialog1->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    name->clear();
  }
  if (OpenDialog1->exec() != QDialog::Accepted) {
    return QString();
  }
  const QStringList chosen = OpenDialog1->selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

QString TFPrincipal::ChooseSaveFile(const QString& filter, const QString& folder) {
  QFileDialog dialog(this, QStringLiteral("Salvar Log"), folder);
  dialog.setOption(QFileDialog::DontUseNativeDialog, true);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(QStringLiteral("txt"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return QString();
  }
  return dialog.selectedFiles().first();
}

QString TFPrincipal::DatabaseFolder() const {
  const QString database = eBancoCorrompido->text();
  return database.isEmpty() ? QString() : QFileInfo(database).absolutePath();
}

MessageAnswer TFPrincipal::ShowMessage(const QString& text, std::optional<MessageKind> kind,
                                       MessageButtons buttons, MessageAnswer defaultAnswer) {
  if (endingOnSignal_) {
    return buttons == MessageButtons::YesNo ? MessageAnswer::No : MessageAnswer::Ok;
  }
  if (messageBox_) {
    return messageBox_(text, kind, buttons);
  }
  if (buttons == MessageButtons::YesNo && defaultAnswer == MessageAnswer::No) {
    std::unique_ptr<QMessageBox> box = TMessageDialog::Build(this, text, kind, buttons);
    box->setDefaultButton(box->findChild<QPushButton*>(QStringLiteral("btnNao")));
    box->exec();
    const QAbstractButton* pressed = box->clickedButton();
    return pressed != nullptr && pressed->objectName() == QLatin1String("btnSim")
               ? MessageAnswer::Yes
               : MessageAnswer::No;
  }
  return TMessageDialog::Show(this, text, kind, buttons);
}

// ---- Handlers ----------------------------------------------------------

void TFPrincipal::btnSelecionarBancoCorrompidoClick() {
  const QString path = openFile_(QStringLiteral("Firebird Database (*.fdb)"), DatabaseFolder());
  if (path.isEmpty()) {
    return;
  }
  eBancoCorrompido->setText(path);
  ResetRunDisplay();
}

void TFPrincipal::btnSelecionarBackupClick() {
  const QString backup = eUltimoBackup->text();
  const QString path =
      openFile_(QStringLiteral("Firebird Backup (*.fbk)"),
                backup.isEmpty() ? DatabaseFolder() : QFileInfo(backup).absolutePath());
  if (path.isEmpty()) {
    return;
  }
  eUltimoBackup->setText(path);
}

void TFPrincipal::ResetRunDisplay() {
  SetLevelRowsEnabled(true, 1);
  for (int key = 1; key <= kStepCount; ++key) {
    ClearStepRow(key);
  }
  lbTempoInicio->clear();
  lbTempoTermino->clear();
  lbTempoDuracao->clear();
  EmptyLog();
}

void TFPrincipal::Executar() {
  // The examination's result would land in the run's log.
  if (Examining()) {
    return;
  }
  const QString databasePath = eBancoCorrompido->text();
  const std::string problem = TRunInputs::Problem(databasePath.toStdString());
  if (!problem.empty()) {
    ShowMessage(QString::fromStdString(problem), MessageKind::Error, MessageButtons::Ok);
    return;
  }
  const QString backupPath = eUltimoBackup->text();
  if (backupPath.isEmpty()) {
    const Question question = TRunInputs::MissingBackupQuestion();
    if (ShowMessage(QString::fromStdString(question.text), question.kind, question.buttons) ==
        MessageAnswer::No) {
      return;
    }
  }
  ReleaseFinishedEngine();
  BeginRunDisplay();
  try {
    // Read again for every run: the operator may have fixed the source.
    const TCredentials credentials = TCredentialSource::Resolve(std::nullopt, std::nullopt);
    engine_ = std::make_unique<TThreadRecovery>(
        *host_, databasePath.toStdString(), backupPath.toStdString(), stepsFactory_, credentials);
  } catch (const std::exception& error) {
    // The engine's components could not be created (for example the client
    // library is missing): no run starts.
    ShowMessage(QString::fromStdString(error.what()), MessageKind::Error, MessageButtons::Ok);
    EndRunDisplay();
  }
}

void TFPrincipal::btnExaminarClick() {
  if (RunInProgress() || Examining()) {
    return;
  }
  const QString path = eBancoCorrompido->text();
  const QFileInfo file(path);
  // A fifo or a device would block the reader or never end.
  const QString problem = path.isEmpty()   ? QStringLiteral("Nenhum banco de dados informado.")
                          : !file.exists() ? QStringLiteral("O arquivo não existe: ") + path
                          : !file.isFile() ? QStringLiteral("Não é um arquivo comum: ") + path
                                           : QString();
  if (!problem.isEmpty()) {
    ShowMessage(QStringLiteral("Não foi possível examinar o arquivo.\r") + problem,
                MessageKind::Error, MessageButtons::Ok);
    return;
  }
  executarBeforeInspection_ = btnExecutar->isEnabled();
  btnExaminar->setEnabled(false);
  btnExecutar->setEnabled(false);
  lbTituloLogs->setEnabled(true);
  log->setEnabled(true);
  SetLogText(QStringLiteral("Examinando ") + path + QStringLiteral(" ..."));
  log->viewport()->setCursor(Qt::WaitCursor);
  inspection_.Start(*this, path.toStdString(),
                    [this](const TInspectionResult& result) { ShowInspection(result); });
}

void TFPrincipal::ShowInspection(const TInspectionResult& result) {
  log->viewport()->unsetCursor();
  btnExecutar->setEnabled(executarBeforeInspection_);
  btnExaminar->setEnabled(!RunInProgress());
  if (!result.opened) {
    EmptyLog();
    logChange();
    const std::string reason = result.verdict.empty()
                                   ? "Não foi possível examinar o arquivo: " + result.error
                                   : result.verdict.front();
    ShowMessage(QString::fromStdString(reason), MessageKind::Error, MessageButtons::Ok);
    return;
  }
  QStringList lines;
  for (const std::string& line : result.ToText()) {
    lines.append(QString::fromStdString(line));
  }
  SetLogText(lines.join(QLatin1Char('\n')));
  // Salvar Log follows Executar, given back above, even when the text is unchanged.
  logChange();
}

void TFPrincipal::ReleaseFinishedEngine() {
  if (!engine_) {
    return;
  }
  // The last run may still be handing over its closing message: keep the
  // UI thread serving it until the thread has ended, then join it.
  while (!engine_->WaitFor(std::chrono::milliseconds(20))) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  engine_.reset();
}

bool TFPrincipal::RunInProgress() const {
  return btnCancelar->isEnabled();
}

bool TFPrincipal::RunGoing() const {
  return engine_ && !engine_->Finished() && RunInProgress();
}

bool TFPrincipal::CancelRun() {
  if (ShowMessage(CancelQuestion(), MessageKind::Confirmation, MessageButtons::YesNo,
                  MessageAnswer::No) != MessageAnswer::Yes) {
    return false;
  }
  // The run may have ended while the question was on screen.
  if (!engine_) {
    return false;
  }
  cancelAsked_ = true;
  engine_->Cancel();
  return true;
}

void TFPrincipal::BeginRunDisplay() {
  setCursor(Qt::WaitCursor);
  lbTempoInicio->setText(clock_().time().toString(kTimeFormat));
  lbTempoTermino->clear();
  lbTempoDuracao->clear();
  imChronometerDisabled->hide();
  for (QLabel* label :
       {lbInicio, lbTempoInicio, lbTermino, lbTempoTermino, lbDuracao, lbTempoDuracao}) {
    label->setEnabled(true);
  }
  Label7->setEnabled(false);
  eBancoCorrompido->setEnabled(false);
  Label8->setEnabled(false);
  eUltimoBackup->setEnabled(false);
  EmptyLog();
  log->viewport()->setCursor(Qt::WaitCursor);
  btnSelecionarBancoCorrompido->setEnabled(false);
  btnSelecionarBackup->setEnabled(false);
  btnExaminar->setEnabled(false);
  btnExecutar->setEnabled(false);
  btnCancelar->setEnabled(true);
  btnSalvarLog->setEnabled(false);
  currentStep_ = 0;
  cancelAsked_ = false;
  Timer->start();
}

void TFPrincipal::EndRunDisplay() {
  Timer->stop();
  const QDateTime end = clock_();
  lbTempoTermino->setText(end.time().toString(kTimeFormat));
  lbTempoDuracao->setText(ElapsedText(lbTempoInicio->text(), end));
  Label7->setEnabled(true);
  eBancoCorrompido->setEnabled(true);
  Label8->setEnabled(true);
  eUltimoBackup->setEnabled(true);
  EmptyLog();
  log->viewport()->unsetCursor();
  btnSelecionarBancoCorrompido->setEnabled(true);
  btnSelecionarBackup->setEnabled(true);
  btnExaminar->setEnabled(true);
  btnExecutar->setEnabled(true);
  btnCancelar->setEnabled(false);
  btnSalvarLog->setEnabled(true);
  unsetCursor();
  currentStep_ = 0;
}

QString TFPrincipal::ElapsedText(const QString& startText, const QDateTime& end) {
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

void TFPrincipal::TimerTimer() {
  if (lbTempoInicio->text().isEmpty()) {
    return;
  }
  lbTempoDuracao->setText(ElapsedText(lbTempoInicio->text(), clock_()));
  repaint();
  QCoreApplication::processEvents();
}

void TFPrincipal::ClicarLog(int key) {
  if (key < 1 || key > kStepCount) {
    return;
  }
  SetLogText(RowLog(key).join(QLatin1Char('\n')));
}

void TFPrincipal::EndOnSignal() {
  endingOnSignal_ = true;
  // A box or picker on screen closes as by Escape: a question of the run
  // gets its No and the run stops at its next call.
  for (QDialog* dialog : findChildren<QDialog*>()) {
    if (dialog->isVisible()) {
      dialog->reject();
    }
  }
  if (RunGoing()) {
    cancelAsked_ = true;
    engine_->Cancel();
    closeAfterRun_ = true;
    closeWhenDone_->start();
    return;
  }
  close();
}

void TFPrincipal::btnCancelarClick() {
  if (RunGoing() && !cancelAsked_) {
    CancelRun();
  }
}

void TFPrincipal::btnSalvarLogClick() {
  // At the end of a run the pane holds no more than the line that names the
  // report: then the report is what there is to save.
  QByteArray bytes = log->toPlainText().toUtf8();
  const QString report =
      engine_ && engine_->Finished() ? QString::fromStdString(engine_->ReportPath()) : QString();
  if (bytes.isEmpty() ||
      (!report.isEmpty() && log->toPlainText() == QStringLiteral("Relatório: ") + report)) {
    QFile reportFile(report);
    if (report.isEmpty() || !reportFile.open(QIODevice::ReadOnly)) {
      ShowMessage(
          report.isEmpty()
              ? QStringLiteral("O log está vazio e não há relatório de execução para salvar.")
              : QStringLiteral("Não foi possível ler o relatório ") + report +
                    QStringLiteral(".\r") + reportFile.errorString(),
          MessageKind::Error, MessageButtons::Ok);
      return;
    }
    bytes = reportFile.readAll();
  }
  const QString path = saveFile_(QStringLiteral("Texto (*.txt *.log)"), DatabaseFolder());
  if (path.isEmpty()) {
    return;
  }
  QSaveFile file(path);
  if (!bytes.isEmpty() && !bytes.endsWith('\n')) {
    bytes.append('\n');
  }
  if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
    ShowMessage(QStringLiteral("Não foi possível salvar o log em ") + path + QStringLiteral(".\r") +
                    file.errorString(),
                MessageKind::Error, MessageButtons::Ok);
  }
}

// ---- Notifications ---------------------------------------------------------

TFPrincipal::StepRow* TFPrincipal::Row(int key) {
  if (key < 1 || key > kStepCount) {
    return nullptr;
  }
  return &rows_[static_cast<std::size_t>(key - 1)];
}

void TFPrincipal::SetLevelRowsEnabled(bool enabled, int level) {
  if (!RunInProgress() && !Examining()) {
    btnExecutar->setEnabled(enabled);
  }
  lbTitulo->setEnabled(enabled);
  if (level == 1 || level == 2) {
    (level == 1 ? lbNivel01 : lbNivel02)->setEnabled(enabled);
    const int first = level == 1 ? 1 : 7;
    const int last = level == 1 ? 6 : kStepCount;
    for (int key = first; key <= last; ++key) {
      Row(key)->title->setEnabled(enabled);
      Row(key)->result->setEnabled(enabled);
    }
  }
  lbTituloLogs->setEnabled(enabled);
  log->setEnabled(enabled);
}

QString TFPrincipal::CheckMark() {
  return HasWingdings() ? QString(QChar(0xFC)) : QString(QChar(0x2713));
}

void TFPrincipal::ReportStep(int key, int phase, int outcome, const QString& text) {
  if (StepRow* row = Row(key)) {
    if (phase == 0) {
      row->status->clear();
    } else if (phase == 1) {
      row->status->setText(CheckMark());
    }
    row->title->setEnabled(phase > 0);
    QFont titleFont = row->title->font();
    titleFont.setBold(phase == 1);
    row->title->setFont(titleFont);
    row->title->adjustSize();
    if (phase == 0) {
      row->result->clear();
    } else if (phase == 1) {
      row->result->setText(QStringLiteral("..."));
    } else {
      row->result->setText(text);
    }
    // A step cut by a cancel did not do its work: shown as a failure.
    const bool failed = outcome == 20 || outcome == 30;
    SetTextColour(row->result, outcome == 10 ? kSuccessColour
                               : failed      ? kFailureColour
                                             : kNeutralColour);
    if (phase > 1 && failed) {
      row->log->show();
    }

    // What the links of rows without a saved log will show.
    if (phase == 1) {
      currentStep_ = key;
      if (key == 1 || key == 2) {
        rowLogs_[key].clear();
      }
    } else if (phase == 2 && key == 7) {
      const QString shown = log->toPlainText();
      rowLogs_[7] = shown.isEmpty() ? QStringList() : shown.split(QLatin1Char('\n'));
    } else if (phase == 2 && key == 11) {
      rowLogs_[11] = savedStepLogs_[3];
    }
  }
  QCoreApplication::processEvents();
}

void TFPrincipal::ClearStepRow(int key) {
  if (StepRow* row = Row(key)) {
    row->status->clear();
    QFont titleFont = row->title->font();
    titleFont.setBold(false);
    row->title->setFont(titleFont);
    row->title->adjustSize();
    row->result->clear();
    SetTextColour(row->result, kNeutralColour);
    row->log->hide();
  }
  QCoreApplication::processEvents();
}

void TFPrincipal::ClearLog() {
  EmptyLog();
}

int TFPrincipal::LogLineCount() const {
  // An empty text box has no lines, although its document holds one block;
  // after an empty line was added it has one.
  if (log->document()->isEmpty() && !logHasLines_) {
    return 0;
  }
  return log->document()->blockCount();
}

void TFPrincipal::WriteLog(const QString& text, int index) {
  if (index < 0) {
    QScrollBar* scroll = log->verticalScrollBar();
    const bool atBottom = scroll->value() == scroll->maximum();
    QTextCursor cursor(log->document());
    cursor.beginEditBlock();
    cursor.movePosition(QTextCursor::End);
    if (LogLineCount() > 0) {
      cursor.insertBlock();
    }
    logHasLines_ = true;
    cursor.insertText(text);
    cursor.endEditBlock();
    if (atBottom) {
      scroll->setValue(scroll->maximum());
    }
    if (currentStep_ == 1 || currentStep_ == 2) {
      rowLogs_[currentStep_].append(text);
    }
    return;
  }
  if (index >= LogLineCount()) {
    return;
  }
  QTextCursor cursor(log->document()->findBlockByNumber(index));
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(text);
}

void TFPrincipal::SnapshotStepLog(int key) {
  if (!HasSavedLog(key)) {
    return;
  }
  const QString shown = log->toPlainText();
  savedStepLogs_[key] = shown.isEmpty() ? QStringList() : shown.split(QLatin1Char('\n'));
}

void TFPrincipal::logChange() {
  btnSalvarLog->setEnabled(btnExecutar->isEnabled() && !log->toPlainText().isEmpty());
}

MessageAnswer TFPrincipal::AskUser(const QString& text, MessageKind kind, MessageButtons buttons,
                                   MessageAnswer defaultAnswer) {
  if (currentStep_ == 1 || currentStep_ == 2) {
    QStringList& kept = rowLogs_[currentStep_];
    if (!kept.isEmpty()) {
      kept.append(QString());
    }
    kept.append(TMessageDialog::DisplayText(text).split(QLatin1Char('\n')));
  }
  return ShowMessage(text, kind, buttons, defaultAnswer);
}

QString TFPrincipal::ChooseBackupFile(const QString& folder) {
  return openFile_(QStringLiteral("Firebird Backup (*.fbk)"), folder);
}

std::optional<TCredentials> TFPrincipal::AskCredentials(const QString& user,
                                                        const QString& reason) {
  if (credentialsDialog_) {
    return credentialsDialog_(user, reason);
  }
  return TLoginDialog::Ask(this, user, reason);
}

QStringList TFPrincipal::SavedStepLog(int key) const {
  const auto found = savedStepLogs_.find(key);
  return found == savedStepLogs_.end() ? QStringList() : found->second;
}

QStringList TFPrincipal::RowLog(int key) const {
  if (HasSavedLog(key)) {
    return SavedStepLog(key);
  }
  const auto found = rowLogs_.find(key);
  if (found != rowLogs_.end() && !found->second.isEmpty()) {
    return found->second;
  }
  if (key == 1 || key == 2) {
    // Nothing was asked or written while the step ran: its result says why.
    const QString result = rows_[static_cast<std::size_t>(key - 1)].result->text();
    return result.isEmpty() ? QStringList() : QStringList{result};
  }
  return QStringList();
}

void TFPrincipal::EmptyLog() {
  emptyingLog_ = true;
  log->clear();
  logHasLines_ = false;
  emptyingLog_ = false;
}

void TFPrincipal::SetLogText(const QString& text) {
  if (text.isEmpty()) {
    EmptyLog();
  } else if (text != log->toPlainText()) {
    log->setPlainText(text);
  }
}

#include "app/TFPrincipal.h"

#include <QCloseEvent>
#include <QDialog>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include "app/TLoginDialog.h"
#include "app/TMessageDialog.h"
#include "app/TRunControl.h"
#include "app/TWindowHost.h"
#include "engine/run/TRunInputs.h"
#include "engine/run/TRunRecord.h"

TFPrincipal::TFPrincipal(TThreadRecovery::StepsFactory stepsFactory, QWidget* parent)
    : QWidget(parent),
      form_(*this),
      rows_(*this, [this](StepKey key) { ClicarLog(key); }),
      run_(std::make_unique<TRunControl>(*this, std::move(stepsFactory))) {
  SetOpenFilePicker(nullptr);
  SetSaveFilePicker(nullptr);
  clock_ = [] { return QDateTime::currentDateTime(); };
  form_.SetTabOrder();
  ConnectControls();
}

TFPrincipal::~TFPrincipal() {
  // The run ends before the controls its hand-overs would reach go away.
  run_.reset();
}

void TFPrincipal::ConnectControls() {
  connect(form_.log, &QPlainTextEdit::textChanged, this, [this] {
    if (!emptyingLog_) {
      logChange();
    }
  });
  connect(form_.btnSalvarLog, &QPushButton::clicked, this, [this] { btnSalvarLogClick(); });
  connect(form_.btnSelecionarBancoCorrompido, &QPushButton::clicked, this,
          [this] { btnSelecionarBancoCorrompidoClick(); });
  connect(form_.btnSelecionarBackup, &QPushButton::clicked, this,
          [this] { btnSelecionarBackupClick(); });
  connect(form_.btnExaminar, &QPushButton::clicked, this, [this] { btnExaminarClick(); });
  connect(form_.btnExecutar, &QPushButton::clicked, this, [this] { Executar(); });
  connect(form_.btnCancelar, &QPushButton::clicked, this, [this] { btnCancelarClick(); });
  connect(form_.Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  connect(run_.get(), &TRunControl::runEnded, this, [this] { RunEnded(); });
  connect(run_.get(), &TRunControl::startFailed, this, [this](const QString& reason) {
    // The engine's components could not be created (for example the client
    // library is missing): no run starts.
    ShowMessage(reason, MessageKind::Error, MessageButtons::Ok);
    EndRunDisplay();
  });
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

TWindowHost& TFPrincipal::Host() {
  return run_->Host();
}

TThreadRecovery* TFPrincipal::Engine() const {
  return run_->Engine();
}

void TFPrincipal::PlaceOnScreen() {
  form_.FitOuterSize();
  // A window manager adds its frame only after the window is mapped: measure
  // again once it had the time to do so.
  QTimer::singleShot(300, this, [this] { form_.FitOuterSize(); });
}

// ---- Runs ------------------------------------------------------------------

bool TFPrincipal::RunInProgress() const {
  return form_.btnCancelar->isEnabled();
}

bool TFPrincipal::RunGoing() const {
  return run_->Going() && RunInProgress();
}

bool TFPrincipal::CancelRun() {
  if (ShowMessage(CancelQuestion(), MessageKind::Confirmation, MessageButtons::YesNo,
                  MessageAnswer::No) != MessageAnswer::Yes) {
    return false;
  }
  // The run may have ended while the question was on screen.
  if (Engine() == nullptr) {
    return false;
  }
  run_->Cancel();
  return true;
}

void TFPrincipal::RunEnded() {
  if (run_->ClosesWindowWhenEnded()) {
    close();
  }
}

void TFPrincipal::closeEvent(QCloseEvent* event) {
  if (RunGoing()) {
    // The window stays until the run has ended: the process must never end
    // while the server writes a database under the user's name.
    event->ignore();
    if (!run_->ClosesWindowWhenEnded() && CancelRun()) {
      run_->CloseWindowWhenEnded();
    }
    return;
  }
  // From now on every call of the engine ends its run at once instead of waiting.
  run_->Host().Close();
  event->accept();
}

bool TFPrincipal::EndRunOnExit(std::chrono::milliseconds timeout) {
  return run_->EndOnExit(timeout);
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
    run_->Cancel();
    run_->CloseWindowWhenEnded();
    return;
  }
  close();
}

void TFPrincipal::btnCancelarClick() {
  if (RunGoing() && !run_->CancelAsked()) {
    CancelRun();
  }
}

// ---- Handlers ----------------------------------------------------------

void TFPrincipal::btnSelecionarBancoCorrompidoClick() {
  const QString path = openFile_(QStringLiteral("Firebird Database (*.fdb)"), DatabaseFolder());
  if (path.isEmpty()) {
    return;
  }
  form_.eBancoCorrompido->setText(path);
  ResetRunDisplay();
}

void TFPrincipal::btnSelecionarBackupClick() {
  const QString backup = form_.eUltimoBackup->text();
  const QString path =
      openFile_(QStringLiteral("Firebird Backup (*.fbk)"),
                backup.isEmpty() ? DatabaseFolder() : QFileInfo(backup).absolutePath());
  if (path.isEmpty()) {
    return;
  }
  form_.eUltimoBackup->setText(path);
}

void TFPrincipal::Executar() {
  // The examination's result would land in the run's log.
  if (Examining()) {
    return;
  }
  const QString databasePath = form_.eBancoCorrompido->text();
  const std::string problem = TRunInputs::Problem(databasePath.toStdString());
  if (!problem.empty()) {
    ShowMessage(QString::fromStdString(problem), MessageKind::Error, MessageButtons::Ok);
    return;
  }
  const QString backupPath = form_.eUltimoBackup->text();
  if (backupPath.isEmpty()) {
    const Question question = TRunInputs::MissingBackupQuestion();
    if (ShowMessage(QString::fromStdString(question.text), question.kind, question.buttons) ==
        MessageAnswer::No) {
      return;
    }
  }
  BeginRunDisplay();
  run_->Start(databasePath, backupPath);
}

void TFPrincipal::btnExaminarClick() {
  if (RunInProgress() || Examining()) {
    return;
  }
  const QString path = form_.eBancoCorrompido->text();
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
  executarBeforeInspection_ = form_.btnExecutar->isEnabled();
  form_.btnExaminar->setEnabled(false);
  form_.btnExecutar->setEnabled(false);
  form_.lbTituloLogs->setEnabled(true);
  form_.log->setEnabled(true);
  SetLogText(QStringLiteral("Examinando ") + path + QStringLiteral(" ..."));
  form_.log->viewport()->setCursor(Qt::WaitCursor);
  inspection_.Start(path.toStdString(),
                    [this](const TInspectionResult& result) { ShowInspection(result); });
}

void TFPrincipal::ShowInspection(const TInspectionResult& result) {
  form_.log->viewport()->unsetCursor();
  form_.btnExecutar->setEnabled(executarBeforeInspection_);
  form_.btnExaminar->setEnabled(!RunInProgress());
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

void TFPrincipal::TimerTimer() {
  form_.ShowElapsed(clock_());
}

void TFPrincipal::ClicarLog(StepKey key) {
  if (StepNumber(key) < 1 || StepNumber(key) > kStepCount) {
    return;
  }
  SetLogText(RowLog(key).join(QLatin1Char('\n')));
}

void TFPrincipal::btnSalvarLogClick() {
  // At the end of a run the pane holds no more than the line that names the
  // report: then the report is what there is to save.
  const QString shown = form_.log->toPlainText();
  QByteArray bytes = shown.toUtf8();
  const TThreadRecovery* engine = Engine();
  const QString report = engine != nullptr && engine->Finished()
                             ? QString::fromStdString(engine->ReportPath())
                             : QString();
  if (bytes.isEmpty() || (!report.isEmpty() && shown == QStringLiteral("Relatório: ") + report)) {
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

// ---- Run display -----------------------------------------------------------

void TFPrincipal::ResetRunDisplay() {
  SetLevelRowsEnabled(true, 1);
  for (int number = 1; number <= kStepCount; ++number) {
    ClearStepRow(StepAt(number));
  }
  form_.ClearTimes();
  EmptyLog();
}

void TFPrincipal::BeginRunDisplay() {
  form_.ShowRunStarted(clock_());
  EmptyLog();
}

void TFPrincipal::EndRunDisplay() {
  form_.ShowRunEnded(clock_());
  EmptyLog();
}

QString TFPrincipal::ElapsedText(const QString& startText, const QDateTime& end) {
  return TMainForm::ElapsedText(startText, end);
}

QString TFPrincipal::CheckMark() {
  return TStepRows::CheckMark();
}

// ---- Notifications ---------------------------------------------------------

namespace {

// Hands each event to the window's routine for it.
struct ShownBy {
  TFPrincipal& window;
  void operator()(const StepChanged& e) const {
    window.ReportStep(e.key, e.phase, e.outcome, QString::fromStdString(e.text));
    window.SetRowLog(e.key, e.rowLog);
  }
  void operator()(const LogAppended& e) const {
    window.WriteLog(QString::fromStdString(e.line), -1);
  }
  void operator()(const LogProgress& e) const {
    window.WriteLog(QString::fromStdString(e.line), e.index);
  }
  void operator()(const LogCleared&) const { window.ClearLog(); }
  void operator()(const StepLogFiled& e) const { window.SetRowLog(e.key, e.rowLog); }
  void operator()(const LevelEntered& e) const { window.SetLevelRowsEnabled(true, e.level); }
  void operator()(const RunBegan&) const { window.BeginRunDisplay(); }
  void operator()(const RunEnded&) const { window.EndRunDisplay(); }
};

}  // namespace

void TFPrincipal::Show(const RunEvent& event) {
  std::visit(ShownBy{*this}, event);
}

void TFPrincipal::SetLevelRowsEnabled(bool enabled, int level) {
  if (!RunInProgress() && !Examining()) {
    form_.btnExecutar->setEnabled(enabled);
  }
  form_.lbTitulo->setEnabled(enabled);
  if (level == 1 || level == 2) {
    (level == 1 ? form_.lbNivel01 : form_.lbNivel02)->setEnabled(enabled);
    rows_.SetLevelEnabled(level, enabled);
  }
  form_.lbTituloLogs->setEnabled(enabled);
  form_.log->setEnabled(enabled);
}

void TFPrincipal::ReportStep(StepKey key, StepPhase phase, StepOutcome outcome,
                             const QString& text) {
  rows_.Show(key, phase, outcome, text);
}

void TFPrincipal::SetRowLog(StepKey key, const SharedLines& lines) {
  rows_.SetLog(key, lines);
}

void TFPrincipal::ClearStepRow(StepKey key) {
  rows_.Clear(key);
}

void TFPrincipal::ClearLog() {
  EmptyLog();
}

int TFPrincipal::LogLineCount() const {
  // An empty text box has no lines, although its document holds one block;
  // after an empty line was added it has one.
  if (form_.log->document()->isEmpty() && !logHasLines_) {
    return 0;
  }
  return form_.log->document()->blockCount();
}

void TFPrincipal::WriteLog(const QString& text, int index) {
  QPlainTextEdit* const log = form_.log;
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
    return;
  }
  if (index >= LogLineCount()) {
    return;
  }
  QTextCursor cursor(log->document()->findBlockByNumber(index));
  cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  cursor.insertText(text);
}

void TFPrincipal::logChange() {
  form_.btnSalvarLog->setEnabled(form_.btnExecutar->isEnabled() &&
                                 !form_.log->toPlainText().isEmpty());
}

MessageAnswer TFPrincipal::AskUser(const QString& text, MessageKind kind, MessageButtons buttons,
                                   MessageAnswer defaultAnswer) {
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

QStringList TFPrincipal::SavedStepLog(StepKey key) const {
  return TRunRecord::HasSavedLog(key) ? RowLog(key) : QStringList();
}

QStringList TFPrincipal::RowLog(StepKey key) const {
  return rows_.Log(key);
}

void TFPrincipal::EmptyLog() {
  emptyingLog_ = true;
  form_.log->clear();
  logHasLines_ = false;
  emptyingLog_ = false;
}

void TFPrincipal::SetLogText(const QString& text) {
  if (text.isEmpty()) {
    EmptyLog();
  } else if (text != form_.log->toPlainText()) {
    form_.log->setPlainText(text);
  }
}

// ---- Seams -------------------------------------------------------------

QString TFPrincipal::ChooseFile(const QString& filter, const QString& folder) {
  QFileDialog* const dialog = form_.OpenDialog1;
  dialog->setNameFilter(filter);
  if (!folder.isEmpty()) {
    dialog->setDirectory(folder);
  }
  // The name field keeps the last file picked (selectFile ignores an empty
  // name): Enter would pick the corrupt database as the backup.
  if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
    name->clear();
  }
  if (dialog->exec() != QDialog::Accepted) {
    return QString();
  }
  const QStringList chosen = dialog->selectedFiles();
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
  const QString database = form_.eBancoCorrompido->text();
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

#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "app/TInspectionTask.h"
#include "engine/MessageTypes.h"
#include "engine/TThreadRecovery.h"

class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TLinkLabel;
class TWindowHost;

// The program's single window: eleven step rows, the log view, the
// chronometer, the two file inputs and the buttons; Examinar shows in the
// log what the database file's own pages say, without a run. Every member runs on the
// UI thread; the engine reaches the notification routines through the
// TWindowHost bridge, which hands each call over to this thread.
class TFPrincipal : public QWidget {
  Q_OBJECT

 public:
  // Shows a message box and returns the button pressed; no kind = plain box.
  using MessageBoxFunction = std::function<MessageAnswer(
      const QString& text, std::optional<MessageKind> kind, MessageButtons buttons)>;
  // Shows a file picker with one filter, opened in `folder` (when not empty)
  // with an empty name field; returns the chosen path, empty when cancelled.
  using FilePickerFunction = std::function<QString(const QString& filter, const QString& folder)>;
  using ClockFunction = std::function<QDateTime()>;
  // Asks for another login after a refusal; nothing when the user gave up.
  using CredentialsFunction =
      std::function<std::optional<TCredentials>(const QString& user, const QString& reason)>;

  static constexpr int kStepCount = 11;
  static constexpr int kOuterWidth = 945;
  static constexpr int kOuterHeight = 563;

  explicit TFPrincipal(TThreadRecovery::StepsFactory stepsFactory, QWidget* parent = nullptr);
  ~TFPrincipal() override;

  // Replaceable seams: the boxes, the pickers and the clock. An empty
  // function puts the window's own box or picker back.
  void SetMessageBox(MessageBoxFunction function) { messageBox_ = std::move(function); }
  void SetOpenFilePicker(FilePickerFunction function);
  void SetSaveFilePicker(FilePickerFunction function);
  void SetClock(ClockFunction function) { clock_ = std::move(function); }
  void SetCredentialsDialog(CredentialsFunction function) {
    credentialsDialog_ = std::move(function);
  }

  // Handlers.
  void FormCreate();
  void Executar();
  void btnExaminarClick();
  void TimerTimer();
  void ClicarLog(int key);
  void btnCancelarClick();
  void btnSalvarLogClick();
  void btnSelecionarBancoCorrompidoClick();
  void btnSelecionarBackupClick();

  // Run display.
  void ResetRunDisplay();
  void BeginRunDisplay();
  void EndRunDisplay();

  // The window's side of the engine's notifications.
  void SetLevelRowsEnabled(bool enabled, int level);
  void ReportStep(int key, int phase, int outcome, const QString& text);
  void ClearStepRow(int key);
  void ClearLog();
  void WriteLog(const QString& text, int index);
  void SnapshotStepLog(int key);
  void logChange();
  // `defaultAnswer` is what Enter gives in a Sim/Não box.
  MessageAnswer AskUser(const QString& text, MessageKind kind, MessageButtons buttons,
                        MessageAnswer defaultAnswer = MessageAnswer::Yes);
  // "Deseja escolher um arquivo?" and the backup picker; returns the new path.
  // The older-backup picker of a run, opened in `folder`; empty when none
  // was picked.
  QString ChooseBackupFile(const QString& folder);
  // The server refused the login: asks for another user and password.
  std::optional<TCredentials> AskCredentials(const QString& user, const QString& reason);

  // The saved log of a step key (empty for keys without one).
  QStringList SavedStepLog(int key) const;
  // What the "Ver log" link of a row shows, whichever the row.
  QStringList RowLog(int key) const;
  // "hh:nn:ss" of the time of day of end - start, start read as a time of day.
  static QString ElapsedText(const QString& startText, const QDateTime& end);
  // The text of the status glyph while a step runs or has run.
  static QString CheckMark();

  TWindowHost& Host() { return *host_; }
  // An examination started by Examinar has not shown its result yet.
  bool Examining() const { return inspection_.Running(); }
  // The engine of the current or last run, if any.
  TThreadRecovery* Engine() const { return engine_.get(); }
  // Cancels a run still going, closes the hand-overs to this window and
  // waits up to `timeout` for the engine thread; false when it is still
  // running (waiting for the server to stop).
  bool EndRunOnExit(std::chrono::milliseconds timeout);
  // The question of "Cancelar" and of closing the window during a run.
  static QString CancelQuestion();
  // SIGTERM, SIGHUP or SIGINT: a run going is cancelled as by Cancelar,
  // without the question, and the window closes once it has ended (at once
  // without a run). From then on no box waits for an answer.
  void EndOnSignal();
  // Sizes the window so that its frame measures 945 x 563 and centres it.
  void PlaceOnScreen();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  struct StepRow {
    QLabel* status = nullptr;
    QLabel* title = nullptr;
    QLabel* result = nullptr;
    TLinkLabel* log = nullptr;
  };

  void FitOuterSize();
  void CreateControls();
  void CreateStepRows();
  void SetTabOrder();
  QString ChooseFile(const QString& filter, const QString& folder);
  QString ChooseSaveFile(const QString& filter, const QString& folder);
  // The database's folder; empty when none was chosen.
  QString DatabaseFolder() const;
  MessageAnswer ShowMessage(const QString& text, std::optional<MessageKind> kind,
                            MessageButtons buttons,
                            MessageAnswer defaultAnswer = MessageAnswer::Yes);
  // A run has begun and not yet reached its end display.
  bool RunGoing() const;
  // Asks the cancel question; on Sim the run stops at its next call.
  bool CancelRun();
  void EmptyLog();
  void SetLogText(const QString& text);
  int LogLineCount() const;
  void ReleaseFinishedEngine();
  bool RunInProgress() const;
  // The examination's result, back on this thread.
  void ShowInspection(const TInspectionResult& result);
  StepRow* Row(int key);

  TThreadRecovery::StepsFactory stepsFactory_;
  MessageBoxFunction messageBox_;
  FilePickerFunction openFile_;
  FilePickerFunction saveFile_;
  ClockFunction clock_;
  CredentialsFunction credentialsDialog_;

  // Controls (named as their objectName).
  QLabel* lbTitulo = nullptr;
  QLabel* lbNivel01 = nullptr;
  QLabel* lbNivel02 = nullptr;
  QFrame* Bevel1 = nullptr;
  QFrame* Bevel2 = nullptr;
  QFrame* Bevel3 = nullptr;
  QFrame* Bevel4 = nullptr;
  QFrame* Bevel5 = nullptr;
  QLabel* imChronometer = nullptr;
  QLabel* imChronometerDisabled = nullptr;
  QLabel* lbInicio = nullptr;
  QLabel* lbTempoInicio = nullptr;
  QLabel* lbTermino = nullptr;
  QLabel* lbTempoTermino = nullptr;
  QLabel* lbDuracao = nullptr;
  QLabel* lbTempoDuracao = nullptr;
  QLabel* lbTituloLogs = nullptr;
  QPlainTextEdit* log = nullptr;
  QPushButton* btnSalvarLog = nullptr;
  QLabel* Label7 = nullptr;
  QWidget* Panel1 = nullptr;
  QLineEdit* eBancoCorrompido = nullptr;
  QPushButton* btnSelecionarBancoCorrompido = nullptr;
  QLabel* Label8 = nullptr;
  QWidget* Panel2 = nullptr;
  QLineEdit* eUltimoBackup = nullptr;
  QPushButton* btnSelecionarBackup = nullptr;
  QPushButton* btnExaminar = nullptr;
  QPushButton* btnExecutar = nullptr;
  QPushButton* btnCancelar = nullptr;
  QTimer* Timer = nullptr;
  QFileDialog* OpenDialog1 = nullptr;
  std::array<StepRow, kStepCount> rows_;

  // Saved logs of keys 3, 4, 5, 6, 8, 9, 10.
  std::map<int, QStringList> savedStepLogs_;
  // What the links of rows 1, 2, 7 and 11 show.
  std::map<int, QStringList> rowLogs_;
  // The row whose step runs now (0 = none): questions and log lines shown
  // meanwhile are kept for rows 1 and 2.
  int currentStep_ = 0;
  // Set while the window empties `log` itself, which must not run logChange.
  bool emptyingLog_ = false;
  // Set once a line was added to `log`, so that a single empty line counts.
  bool logHasLines_ = false;

  // The run was asked to stop: the question is not asked again.
  bool cancelAsked_ = false;
  // The window closes as soon as the cancelled run has ended.
  bool closeAfterRun_ = false;
  QTimer* closeWhenDone_ = nullptr;
  // Set by EndOnSignal: every box answers as its Escape would.
  bool endingOnSignal_ = false;

  // Executar's state when the examination began, given back at its end.
  bool executarBeforeInspection_ = true;
  TInspectionTask inspection_;

  std::unique_ptr<TWindowHost> host_;
  std::unique_ptr<TThreadRecovery> engine_;
};

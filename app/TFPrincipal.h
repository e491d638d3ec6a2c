#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "app/TInspectionTask.h"
#include "app/TMainForm.h"
#include "app/TStepRows.h"
#include "engine/run/MessageTypes.h"
#include "engine/run/RunEvent.h"
#include "engine/run/TThreadRecovery.h"

class TRunControl;
class TWindowHost;

// The program's single window: the form, the eleven step rows, the log pane
// and the runs. Examinar shows in the log what the database file's own pages
// say, without a run. Every member runs on the UI thread; the engine reaches
// the notification routines through the TWindowHost bridge, which hands each
// call over to this thread.
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
  void Executar();
  void btnExaminarClick();
  void TimerTimer();
  void ClicarLog(StepKey key);
  void btnCancelarClick();
  void btnSalvarLogClick();
  void btnSelecionarBancoCorrompidoClick();
  void btnSelecionarBackupClick();

  // Run display.
  void ResetRunDisplay();
  void BeginRunDisplay();
  void EndRunDisplay();

  // The window's side of the engine's events: each one below.
  void Show(const RunEvent& event);
  void SetLevelRowsEnabled(bool enabled, int level);
  void ReportStep(StepKey key, StepPhase phase, StepOutcome outcome, const QString& text);
  // What the "Ver log" of a row shows from now on, as the run's record gave
  // it (null keeps what an earlier run gave).
  void SetRowLog(StepKey key, const SharedLines& lines);
  void ClearStepRow(StepKey key);
  void ClearLog();
  void WriteLog(const QString& text, int index);
  void logChange();
  // `defaultAnswer` is what Enter gives in a Sim/Não box.
  MessageAnswer AskUser(const QString& text, MessageKind kind, MessageButtons buttons,
                        MessageAnswer defaultAnswer = MessageAnswer::Yes);
  // The older-backup picker of a run, opened in `folder`; empty when none
  // was picked.
  QString ChooseBackupFile(const QString& folder);
  // The server refused the login: asks for another user and password.
  std::optional<TCredentials> AskCredentials(const QString& user, const QString& reason);

  // The saved log of a step (empty for steps without one).
  QStringList SavedStepLog(StepKey key) const;
  // What the "Ver log" link of a row shows, whichever the row: the lines the
  // run's record gave it (TRunRecord::RowLog).
  QStringList RowLog(StepKey key) const;
  // "hh:nn:ss" of the time of day of end - start, start read as a time of day.
  static QString ElapsedText(const QString& startText, const QDateTime& end);
  // The text of the status glyph while a step runs or has run.
  static QString CheckMark();

  TWindowHost& Host();
  // An examination started by Examinar has not shown its result yet.
  bool Examining() const { return inspection_.Running(); }
  // The engine of the current or last run, if any.
  TThreadRecovery* Engine() const;
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
  void ConnectControls();
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
  // The run's thread has ended.
  void RunEnded();
  void EmptyLog();
  void SetLogText(const QString& text);
  int LogLineCount() const;
  bool RunInProgress() const;
  // The examination's result, back on this thread.
  void ShowInspection(const TInspectionResult& result);

  MessageBoxFunction messageBox_;
  FilePickerFunction openFile_;
  FilePickerFunction saveFile_;
  ClockFunction clock_;
  CredentialsFunction credentialsDialog_;

  TMainForm form_;
  TStepRows rows_;

  // Set while the window empties the log itself, which must not run logChange.
  bool emptyingLog_ = false;
  // Set once a line was added to the log, so that a single empty line counts.
  bool logHasLines_ = false;
  // Set by EndOnSignal: every box answers as its Escape would.
  bool endingOnSignal_ = false;

  // Executar's state when the examination began, given back at its end.
  bool executarBeforeInspection_ = true;
  TInspectionTask inspection_;

  std::unique_ptr<TRunControl> run_;
};

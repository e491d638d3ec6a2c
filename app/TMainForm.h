#pragma once

#include <QDateTime>
#include <QString>

class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class QWidget;

// The window's form: its look and every control but the step rows, placed
// as in the original form, and the switch of those controls between a run
// and the idle window. The controls are children of the window, which owns
// them; this class only builds and switches them.
class TMainForm {
 public:
  static constexpr int kOuterWidth = 945;
  static constexpr int kOuterHeight = 563;

  explicit TMainForm(QWidget& window);
  TMainForm(const TMainForm&) = delete;
  TMainForm& operator=(const TMainForm&) = delete;

  // Focus order of the controls, once every child of the window exists.
  void SetTabOrder();
  // Sizes the window so that its frame measures 945 x 563 and centres it.
  void FitOuterSize();

  // The controls while a run started at `start` goes, and once it ended at
  // `end`: times, fields, buttons and cursors.
  void ShowRunStarted(const QDateTime& start);
  void ShowRunEnded(const QDateTime& end);
  // The duration so far, read from the start shown; nothing before a start.
  void ShowElapsed(const QDateTime& now);
  void ClearTimes();

  // "hh:nn:ss" of the time of day of end - start, start read as a time of day.
  static QString ElapsedText(const QString& startText, const QDateTime& end);

  // Controls, named as their objectName.
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

 private:
  void SetUpWindow();
  void CreateHeadings();
  void CreateChronometer();
  void CreateLogPane();
  void CreateInputs();
  void CreateButtons();
  // The labels of the chronometer, enabled together.
  void SetTimesEnabled(bool enabled);
  // The inputs and buttons that only an idle window offers.
  void SetIdleControlsEnabled(bool enabled);

  QWidget& window_;
};

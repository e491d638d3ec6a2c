#pragma once

#include <QString>
#include <QStringList>
#include <array>
#include <functional>

#include "engine/run/RunEvent.h"
#include "engine/run/RunTypes.h"

class QLabel;
class QWidget;
class TLinkLabel;

// The eleven step rows of the window: status glyph, title, result and the
// "Ver log" link of each, painted from the engine's step key, phase and
// outcome, the link showing the lines the engine's record gave the row. The
// labels are children of the window, which owns them.
class TStepRows {
 public:
  // Builds the rows on `window`; `linkClicked` runs when a row's link is
  // clicked.
  TStepRows(QWidget& window, std::function<void(StepKey)> linkClicked);
  TStepRows(const TStepRows&) = delete;
  TStepRows& operator=(const TStepRows&) = delete;

  // One change of a row: the glyph and bold title while it runs, the result
  // in the outcome's colour, and the link once it failed or was cut short.
  // Keys without a row change nothing.
  void Show(StepKey key, StepPhase phase, StepOutcome outcome, const QString& text);
  // Back to an empty row, its title's enabled state left as it was.
  void Clear(StepKey key);
  // Titles and results of the rows of `level` (1 or 2).
  void SetLevelEnabled(int level, bool enabled);
  // The lines the row's link shows from now on, as the run's record gave
  // them; null keeps those an earlier run gave.
  void SetLog(StepKey key, const SharedLines& lines);
  // What the row's link shows.
  QStringList Log(StepKey key) const;

  // The text of the status glyph while a step runs or has run.
  static QString CheckMark();

 private:
  struct Row {
    QLabel* status = nullptr;
    QLabel* title = nullptr;
    QLabel* result = nullptr;
    TLinkLabel* log = nullptr;
    SharedLines logLines;  // shared with the run's record, never changed
  };

  // The row of `key`; nothing for a key outside the eleven steps.
  const Row* Find(StepKey key) const;
  Row* Find(StepKey key);

  std::array<Row, kStepCount> rows_;
};

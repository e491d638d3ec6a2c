#include "app/TStepRows.h"

#include <QFontMetrics>
#include <QLabel>
#include <utility>

#include "app/TLinkLabel.h"
#include "app/WidgetStyle.h"

namespace {

struct RowPlace {
  const char* stem;
  const char* resultName;
  int top;
};

// In run order, from StepKey::AcessoExclusivo on; row 2's result label keeps
// its odd name.
constexpr RowPlace kPlaces[kStepCount] = {
    {"AcessoExclusivo", "lbAcessoExclusivoResult", 56},
    {"CriarCopia", "lbCriarCopiarResult", 80},
    {"ValidarDados", "lbValidarDadosResult", 104},
    {"PrepararBackup", "lbPrepararBackupResult", 128},
    {"FazerBackupNivel01", "lbFazerBackupNivel01Result", 152},
    {"RestaurarBancoNivel01", "lbRestaurarBancoNivel01Result", 176},
    {"ProcurarOrfaos", "lbProcurarOrfaosResult", 232},
    {"RecuperarDados", "lbRecuperarDadosResult", 256},
    {"FazerBackupNivel02", "lbFazerBackupNivel02Result", 280},
    {"RestaurarBancoNivel02", "lbRestaurarBancoNivel02Result", 304},
    {"ValidacaoFinal", "lbValidacaoFinalResult", 328},
};

const QColor kSuccessColour(0, 128, 0);
const QColor kFailureColour(255, 0, 0);
const QColor kNeutralColour(0, 0, 0);

// A step cut by a cancel did not do its work: shown as a failure.
bool Failed(StepOutcome outcome) {
  return outcome == StepOutcome::Failure || outcome == StepOutcome::Cancelled;
}

QColor OutcomeColour(StepOutcome outcome) {
  if (outcome == StepOutcome::Success) {
    return kSuccessColour;
  }
  return Failed(outcome) ? kFailureColour : kNeutralColour;
}

void SetBold(QLabel* label, bool bold) {
  QFont font = label->font();
  font.setBold(bold);
  label->setFont(font);
  label->adjustSize();
}

}  // namespace

TStepRows::TStepRows(QWidget& window, std::function<void(StepKey)> linkClicked) {
  QWidget* const parent = &window;
  const QFont glyphFont = GlyphFont();
  const QFont resultFont = TahomaFont(11);
  const int lineHeight = QFontMetrics(resultFont).height();
  for (int number = 1; number <= kStepCount; ++number) {
    const StepKey key = StepAt(number);
    const RowPlace& place = kPlaces[number - 1];
    const QString stem = QLatin1String(place.stem);
    Row& row = rows_[static_cast<std::size_t>(number - 1)];

    row.status = new QLabel(parent);
    row.status->setObjectName(QStringLiteral("lb") + stem + QStringLiteral("Status"));
    row.status->setFont(glyphFont);
    row.status->setGeometry(8, place.top - 1, 17, QFontMetrics(glyphFont).height());
    SetTextColour(row.status, QColor(0, 128, 64));

    row.title =
        MakeLabel(parent, "", QString::fromUtf8(StepTitle(key)), 25, place.top, window.font());
    row.title->setObjectName(QStringLiteral("lb") + stem);
    row.title->setEnabled(false);

    row.result = new QLabel(parent);
    row.result->setObjectName(QLatin1String(place.resultName));
    row.result->setFont(resultFont);
    row.result->setGeometry(192, place.top, 246, lineHeight);
    SetTextColour(row.result, QColor(0, 128, 192));
    row.result->setEnabled(false);

    row.log = new TLinkLabel(QStringLiteral("Ver log"), number, parent);
    row.log->setObjectName(QStringLiteral("lb") + stem + QStringLiteral("Log"));
    row.log->setFont(resultFont);
    SetTextColour(row.log, QColor(0, 0, 255));
    row.log->move(444, place.top);
    row.log->adjustSize();
    row.log->hide();
    QObject::connect(row.log, &TLinkLabel::clicked, parent,
                     [linkClicked, key] { linkClicked(key); });
  }
}

const TStepRows::Row* TStepRows::Find(StepKey key) const {
  const int number = StepNumber(key);
  if (number < 1 || number > kStepCount) {
    return nullptr;
  }
  return &rows_[static_cast<std::size_t>(number - 1)];
}

TStepRows::Row* TStepRows::Find(StepKey key) {
  return const_cast<Row*>(std::as_const(*this).Find(key));
}

void TStepRows::Show(StepKey key, StepPhase phase, StepOutcome outcome, const QString& text) {
  const Row* row = Find(key);
  if (row == nullptr) {
    return;
  }
  switch (phase) {
    case StepPhase::NotApplicable:
      row->status->clear();
      row->result->clear();
      break;
    case StepPhase::Running:
      row->status->setText(CheckMark());
      row->result->setText(QStringLiteral("..."));
      break;
    case StepPhase::Finished:
      // The glyph stays as it was: empty for a step that never ran.
      row->result->setText(text);
      break;
  }
  row->title->setEnabled(phase != StepPhase::NotApplicable);
  SetBold(row->title, phase == StepPhase::Running);
  SetTextColour(row->result, OutcomeColour(outcome));
  // A link once shown stays until the row is cleared.
  if (phase == StepPhase::Finished && Failed(outcome)) {
    row->log->show();
  }
}

void TStepRows::Clear(StepKey key) {
  const Row* row = Find(key);
  if (row == nullptr) {
    return;
  }
  row->status->clear();
  SetBold(row->title, false);
  row->result->clear();
  SetTextColour(row->result, kNeutralColour);
  row->log->hide();
}

void TStepRows::SetLevelEnabled(int level, bool enabled) {
  for (int number = 1; number <= kStepCount; ++number) {
    if (StepLevel(StepAt(number)) == level) {
      const Row& row = rows_[static_cast<std::size_t>(number - 1)];
      row.title->setEnabled(enabled);
      row.result->setEnabled(enabled);
    }
  }
}

void TStepRows::SetLog(StepKey key, const SharedLines& lines) {
  Row* row = Find(key);
  if (row != nullptr && lines) {
    row->logLines = lines;
  }
}

QStringList TStepRows::Log(StepKey key) const {
  QStringList lines;
  const Row* row = Find(key);
  if (row != nullptr && row->logLines) {
    lines.reserve(static_cast<qsizetype>(row->logLines->size()));
    for (const std::string& line : *row->logLines) {
      lines.append(QString::fromStdString(line));
    }
  }
  return lines;
}

QString TStepRows::CheckMark() {
  return HasWingdings() ? QString(QChar(0xFC)) : QString(QChar(0x2713));
}

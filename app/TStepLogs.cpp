#include "app/TStepLogs.h"

namespace {

constexpr StepKey kSavedLogKeys[] = {
    StepKey::ValidarDados,          StepKey::PrepararBackup, StepKey::FazerBackupNivel01,
    StepKey::RestaurarBancoNivel01, StepKey::RecuperarDados, StepKey::FazerBackupNivel02,
    StepKey::RestaurarBancoNivel02,
};

QStringList Lines(const QString& text) {
  return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

bool KeepsLinesWhileRunning(StepKey key) {
  return key == StepKey::AcessoExclusivo || key == StepKey::CriarCopia;
}

}  // namespace

TStepLogs::TStepLogs() {
  for (StepKey key : kSavedLogKeys) {
    saved_[key] = QStringList();
  }
}

bool TStepLogs::KeepsSavedLog(StepKey key) {
  for (StepKey saved : kSavedLogKeys) {
    if (saved == key) {
      return true;
    }
  }
  return false;
}

bool TStepLogs::CurrentKeepsLines() const {
  return current_ && KeepsLinesWhileRunning(*current_);
}

void TStepLogs::StepReported(StepKey key, StepPhase phase, const QString& shownLog) {
  if (StepNumber(key) < 1 || StepNumber(key) > kStepCount) {
    return;
  }
  if (phase == StepPhase::Running) {
    current_ = key;
    if (KeepsLinesWhileRunning(key)) {
      rowLogs_[key].clear();
    }
  } else if (phase == StepPhase::Finished && key == StepKey::ProcurarOrfaos) {
    rowLogs_[key] = Lines(shownLog);
  } else if (phase == StepPhase::Finished && key == StepKey::ValidacaoFinal) {
    rowLogs_[key] = saved_[StepKey::ValidarDados];
  }
}

void TStepLogs::LineWritten(const QString& line) {
  if (CurrentKeepsLines()) {
    rowLogs_[*current_].append(line);
  }
}

void TStepLogs::QuestionAsked(const QString& displayText) {
  if (!CurrentKeepsLines()) {
    return;
  }
  QStringList& kept = rowLogs_[*current_];
  if (!kept.isEmpty()) {
    kept.append(QString());
  }
  kept.append(displayText.split(QLatin1Char('\n')));
}

void TStepLogs::Snapshot(StepKey key, const QString& shownLog) {
  if (KeepsSavedLog(key)) {
    saved_[key] = Lines(shownLog);
  }
}

QStringList TStepLogs::Saved(StepKey key) const {
  const auto found = saved_.find(key);
  return found == saved_.end() ? QStringList() : found->second;
}

QStringList TStepLogs::ForRow(StepKey key, const QString& result) const {
  if (KeepsSavedLog(key)) {
    return Saved(key);
  }
  const auto found = rowLogs_.find(key);
  if (found != rowLogs_.end() && !found->second.isEmpty()) {
    return found->second;
  }
  if (KeepsLinesWhileRunning(key) && !result.isEmpty()) {
    // Nothing was asked or written while the step ran: its result says why.
    return QStringList{result};
  }
  return QStringList();
}

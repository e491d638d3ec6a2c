#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

// The words the engine and every front end share about a run: its steps, the
// phases and outcomes of a step's row, and the verdict that chooses the
// closing message.

// The eleven steps in run order; the value is the row's number.
enum class StepKey {
  AcessoExclusivo = 1,
  CriarCopia,
  ValidarDados,
  PrepararBackup,
  FazerBackupNivel01,
  RestaurarBancoNivel01,
  ProcurarOrfaos,
  RecuperarDados,
  FazerBackupNivel02,
  RestaurarBancoNivel02,
  ValidacaoFinal
};
constexpr int kStepCount = 11;

constexpr int StepNumber(StepKey key) {
  return static_cast<int>(key);
}
constexpr StepKey StepAt(int number) {
  return static_cast<StepKey>(number);
}
// The row's title as the window shows it ("Fazer backup").
const char* StepTitle(StepKey key);
// The level a step belongs to: 1 for steps 1 to 6, 2 for the rest.
constexpr int StepLevel(StepKey key) {
  return StepNumber(key) <= 6 ? 1 : 2;
}

enum class StepPhase { NotApplicable = 0, Running = 1, Finished = 2 };
enum class StepOutcome { None = 0, Success = 10, Failure = 20, Cancelled = 30 };

// How a run ended. The first five keep their closing texts; the others name
// reasons the run found before it could judge the database.
enum class RunVerdict {
  NotValidated = 0,
  InUse = 1,
  NoErrors = 2,
  StillCorrupt = 3,
  Repaired = 4,
  Cancelled,
  LoginRefused,
  NotADatabase,
  Unanswered,
  // Repaired, but rows of some tables could not be given back.
  RepairedWithLosses,
};

// What a run knows about one table's rows that the damage took: how many
// could be given back from the older backup, and how many are gone.
struct TableLoss {
  long long fromOlderBackup = 0;
  // Rows known to be gone: refused by the restore, unreadable and in no other
  // source, or left out by the operator.
  long long lost = 0;
  // False when part of the table could not be read, so that more rows may be
  // gone than `lost` says.
  bool known = true;
  // Keys of the lost rows, where they are known ("ID=7").
  std::vector<std::string> keys;

  // Keeps the key of a lost row for the report, once, up to kLostKeysKept.
  void KeepKey(const std::string& key);
  void KeepKeys(const std::vector<std::string>& more);
};
using TableLosses = std::map<std::string, TableLoss>;
// Lost keys kept per table for the report; beyond this they are only counted.
constexpr std::size_t kLostKeysKept = 1000;

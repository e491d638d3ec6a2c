#pragma once

#include "engine/run/RunTypes.h"

// The program's exit status: what a script may tell from it.
class TExitStatus {
 public:
  static constexpr int kRepairedOrNoErrors = 0;
  static constexpr int kStillCorrupt = 1;
  static constexpr int kInUseOrNotValidated = 2;
  // A usage error, a file that is missing or no database, a refused login,
  // or a question nobody answered.
  static constexpr int kUsage = 3;
  static constexpr int kCancelled = 4;
  // Repaired, but rows of some tables could not be given back.
  static constexpr int kRepairedWithLosses = 5;

  static int For(RunVerdict verdict);
};

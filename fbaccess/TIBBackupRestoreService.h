#pragma once

#include "fbaccess/TIBControlAndQueryService.h"

// What backup and restore share: verbose output, one line per step.
class TIBBackupRestoreService : public TIBControlAndQueryService {
 public:
  bool Verbose() const { return verbose_; }
  void SetVerbose(bool verbose) { verbose_ = verbose; }

 private:
  bool verbose_ = false;
};

#include "engine/TRunHost.h"

#include <memory>

void TRunHost::EndRunDisplay() const {
  Notify(RunEnded{std::make_shared<const TRunRecord>(record_)});
}

void TRunHost::SetLevelRowsEnabled(bool enabled, int level) const {
  if (enabled) {
    EnterLevel(level);
  }
}

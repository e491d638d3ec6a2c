#include "engine/TRunHost.h"

#include <memory>

void TRunHost::EndRunDisplay() const {
  Notify(RunEnded{std::make_shared<const TRunRecord>(record_)});
}

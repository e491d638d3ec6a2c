#include "engine/run/TRunHost.h"

#include <memory>
#include <variant>

void TRunHost::Notify(const RunEvent& event) const {
  // What a row's link shows is read here, on the run's thread, from the
  // record the run has just fed: the front end gets lines nobody changes
  // and never reads the record while the run goes on.
  if (const auto* changed = std::get_if<StepChanged>(&event)) {
    StepChanged shown = *changed;
    shown.rowLog = record_.RowLog(shown.key);
    host_.Notify(shown);
  } else if (const auto* filed = std::get_if<StepLogFiled>(&event)) {
    host_.Notify(StepLogFiled{filed->key, record_.RowLog(filed->key)});
  } else {
    host_.Notify(event);
  }
}

void TRunHost::EndRunDisplay() const {
  Notify(RunEnded{std::make_shared<const TRunRecord>(record_)});
}

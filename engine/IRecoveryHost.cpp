#include "engine/IRecoveryHost.h"

namespace {

// Hands one event to the call it was before.
struct OldCall {
  IRecoveryHost& host;
  void operator()(const StepChanged& e) const {
    host.ReportStep(e.key, e.phase, e.outcome, e.text);
  }
  void operator()(const LogAppended& e) const { host.WriteLog(e.line, -1); }
  void operator()(const LogProgress& e) const { host.WriteLog(e.line, e.index); }
  void operator()(const LogCleared&) const { host.ClearLog(); }
  void operator()(const StepLogFiled& e) const { host.SnapshotStepLog(e.key); }
  void operator()(const LevelEntered& e) const { host.SetLevelRowsEnabled(true, e.level); }
  void operator()(const RunBegan&) const { host.BeginRunDisplay(); }
  void operator()(const RunEnded&) const { host.EndRunDisplay(); }
};

}  // namespace

void IRecoveryHost::Notify(const RunEvent& event) {
  std::visit(OldCall{*this}, event);
}

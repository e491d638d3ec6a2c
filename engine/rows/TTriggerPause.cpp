#include "engine/rows/TTriggerPause.h"

#include "engine/firebird/SqlName.h"
#include "engine/firebird/SystemRows.h"
#include "engine/rows/ResumeAfterFailure.h"
#include "engine/run/TextUtil.h"

TTriggerPause::TTriggerPause(TConnection& target, const std::vector<std::string>& tables)
    : target_(target) {
  std::vector<std::string> active;
  for (const std::string& table : tables) {
    for (const auto& row : SystemRows(target_.Query(),
                                      "select rdb$trigger_name from rdb$triggers"
                                      " where rdb$relation_name = :NAME"
                                      " and coalesce(rdb$system_flag, 0) = 0"
                                      " and coalesce(rdb$trigger_inactive, 0) = 0"
                                      " order by rdb$trigger_name",
                                      table)) {
      active.push_back(row[0]);
    }
  }
  try {
    for (const std::string& trigger : active) {
      SetActive(trigger, false);
      paused_.push_back(trigger);
    }
    // Nothing to pause (no table, or no active trigger) starts no transaction.
    if (target_.Transaction().Active()) {
      target_.Transaction().Commit();
    }
  } catch (...) {
    if (target_.Transaction().Active()) {
      target_.Transaction().Rollback();
    }
    paused_.clear();  // nothing was committed
    throw;
  }
}

TTriggerPause::~TTriggerPause() {
  if (!resumed_ && !paused_.empty()) {
    ResumeAfterFailure(target_, [this] { Resume(); });
  }
}

std::string TTriggerPause::LogLine() const {
  return "Gatilhos desativados durante a cópia e reativados depois: " + JoinedNames(paused_);
}

void TTriggerPause::Resume() {
  for (const std::string& trigger : paused_) {
    SetActive(trigger, true);
  }
  if (target_.Transaction().Active()) {
    target_.Transaction().Commit();
  }
  resumed_ = true;
}

void TTriggerPause::SetActive(const std::string& trigger, bool active) {
  TIBQuery& query = target_.Query();
  query.Close();
  query.SQL().SetText("alter trigger " + SqlName(trigger) + (active ? " active" : " inactive"));
  query.ExecQuery();
}

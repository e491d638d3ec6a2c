#pragma once

#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"

// The active triggers of tables that rows are copied into, made inactive
// while the copy runs: a copied row keeps the values it had, and no trigger
// writes rows of its own. Only for a database of the run's own making (the
// restore a repair builds), never the operator's. Resume() makes them active
// again; the destructor does so too, quietly, when an error or a cancel left
// early.
class TTriggerPause {
 public:
  // Pauses the triggers of `tables` through `target`, which must be attached,
  // and commits. Prepare the copy's statements after this.
  TTriggerPause(TConnection& target, const std::vector<std::string>& tables);
  ~TTriggerPause();
  TTriggerPause(const TTriggerPause&) = delete;
  TTriggerPause& operator=(const TTriggerPause&) = delete;

  // Makes every paused trigger active again and commits; throws when one
  // stays inactive.
  void Resume();
  // The triggers paused, by name.
  const std::vector<std::string>& Paused() const { return paused_; }
  // The run log's line naming them.
  std::string LogLine() const;

 private:
  void SetActive(const std::string& trigger, bool active);

  TConnection& target_;
  std::vector<std::string> paused_;
  bool resumed_ = false;
};

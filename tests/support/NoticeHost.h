#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/ScriptedHost.h"

// A scripted host that answers every notice (a message with OK only) itself
// and keeps its text, so a test scripts only the real questions; and that can
// run an action of the test's on the engine's thread the moment the run makes
// a given call, e.g. fill the disk as step 10 starts ("ReportStep 10 1") or
// cancel once a restore has ended ("SnapshotStepLog 10").
class NoticeHost : public ScriptedHost {
 public:
  // `action` runs once, right after the first call whose transcript line
  // begins with `prefix` (see ScriptedHost for the lines).
  void OnCall(const std::string& prefix, std::function<void()> action);

  // Every notice in order; the closing message is the last.
  std::vector<std::string> Notices() const;
  std::string ClosingMessage() const;

  MessageAnswer AskUser(const Question& question) override;
  void Notify(const RunEvent& event) override;

 private:
  void Reached(const std::string& line);

  mutable std::mutex noticesMutex_;
  std::vector<std::string> notices_;
  std::mutex triggerMutex_;
  std::string prefix_;
  std::function<void()> action_;
};

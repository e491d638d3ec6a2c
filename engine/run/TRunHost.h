#pragma once

#include <optional>
#include <string>

#include "engine/run/IRecoveryHost.h"
#include "engine/run/TRunRecord.h"

// The front end as a run's routines reach it: the news of the run's display
// (its beginning and end, the level entered) as events, and the operator's
// login. The step rows, the log and the questions go through the run's
// context, which records them first and then hands them over here.
class TRunHost {
 public:
  TRunHost(IRecoveryHost& host, const TRunRecord& record) : host_(host), record_(record) {}

  IRecoveryHost& Front() const { return host_; }
  // Hands `event` to the front end; a step's change or filing goes with
  // what its row's link now shows (StepChanged::rowLog), from the record.
  void Notify(const RunEvent& event) const;

  void BeginRunDisplay() const { Notify(RunBegan{}); }
  // Hands over the run's record as it stands: call it once the run's report
  // is written.
  void EndRunDisplay() const;
  void EnterLevel(int level) const { Notify(LevelEntered{level}); }
  std::optional<TCredentials> AskCredentials(const std::string& user,
                                             const std::string& reason) const {
    return host_.AskCredentials(user, reason);
  }

 private:
  IRecoveryHost& host_;
  const TRunRecord& record_;
};

#pragma once

#include <string>
#include <utility>

// Why a step routine failed, as far as the run needs to tell the operator.
enum class StepFailure {
  None,            // nothing was raised: the work ran and answered no
  OthersAttached,  // another attachment stopped the work
  ShutDown,        // the database was in maintenance for someone else
  LoginRefused,    // the server refused the account
  NotADatabase,    // not a database file, or of another server version
  Corrupt,         // the server could not read what it needed
  NoSpace,         // a disk filled up
  ServerFailed,    // any other error of the server or of the file system
};

// What a step routine did. Routines show nothing themselves: the run alone
// decides what the operator is shown.
struct StepResult {
  StepResult(bool succeeded) : ok(succeeded) {}  // NOLINT: a plain yes or no converts
  static StepResult Raised(StepFailure why, std::string text) {
    StepResult result(false);
    result.failure = why;
    result.error = std::move(text);
    return result;
  }

  explicit operator bool() const { return ok; }
  // An error interrupted the work (as opposed to a plain no).
  bool WasRaised() const { return !error.empty(); }

  bool ok = false;
  StepFailure failure = StepFailure::None;
  std::string error;  // the words of the error raised; empty when none was
};

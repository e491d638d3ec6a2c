#pragma once

#include "cli/TCliOptions.h"
#include "cli/TConsole.h"

// `tessarine-cli --inspect`: the examination of a database file from its own
// pages, printed and optionally written as JSON. It opens the file read-only
// and never reaches the server, so it works on a file the server refuses and
// cannot change anything.
class TCliInspection {
 public:
  explicit TCliInspection(const TCliOptions& options);
  TCliInspection(const TCliInspection&) = delete;
  TCliInspection& operator=(const TCliInspection&) = delete;

  // Returns the exit status: 0 once the file was examined, whatever was
  // found; 3 when it could not be read or the JSON file not written.
  int Execute();

 private:
  // Why the file cannot be examined at all, or empty.
  std::string InputProblem() const;

  const TCliOptions& options_;
  TConsole console_;
};

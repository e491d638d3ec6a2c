#pragma once

#include <string>

#include "engine/run/MessageTypes.h"

// The checks every front end makes before it starts a run.
class TRunInputs {
 public:
  // The path the run works on: symbolic links resolved and made absolute, so
  // the real file is what is copied, renamed and reported. Unchanged when it
  // cannot be resolved.
  static std::string ResolvedDatabasePath(const std::string& path);

  // Why no run may start on this database, or empty: no path, no such file,
  // not a ".fdb" file, or a path so long that the run's own file names would
  // pass the server's limit of 255 bytes.
  static std::string Problem(const std::string& databasePath);

  // Asked when no older backup was given; Yes starts the run all the same.
  static Question MissingBackupQuestion();

  // The server cannot take a longer file name.
  static constexpr std::size_t kMaxPathBytes = 255;
};

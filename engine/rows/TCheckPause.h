#pragma once

#include <string>
#include <vector>

#include "engine/firebird/TConnection.h"

// The CHECK constraints of a database being rebuilt, dropped while its rows
// go in and added again after, as the server's own restore loads rows
// before it makes its checks: a row the database held may fail a check it
// was never tested against (one added, or one that reads another table whose
// rows changed since). The server does not test existing rows when a check
// is added. Only for a database of the run's own making.
class TCheckPause {
 public:
  // Drops the checks of `tables` through `target`, which must be attached,
  // and commits.
  TCheckPause(TConnection& target, const std::vector<std::string>& tables);
  ~TCheckPause();
  TCheckPause(const TCheckPause&) = delete;
  TCheckPause& operator=(const TCheckPause&) = delete;

  // Adds every dropped check again, under its own name, and commits; throws
  // when one cannot be added.
  void Resume();
  // The checks dropped, by name.
  std::vector<std::string> Paused() const;

 private:
  struct TCheck {
    std::string table;
    std::string name;
    std::string source;  // "CHECK (...)" as it was declared
  };

  TConnection& target_;
  std::vector<TCheck> checks_;  // the ones dropped
  bool resumed_ = false;
};

#pragma once

#include <sys/stat.h>

#include <string>

// The owner, group and mode of the operator's database, taken once, and
// given to every file a run makes beside it: a copy made by root would keep
// the server, which runs as its own user, out of the copy it is meant to
// protect, and the report would be root's alone.
class TFileOwner {
 public:
  // Reads the owner of `database`; without it (the file cannot be read)
  // nothing is ever changed.
  explicit TFileOwner(const std::string& database);

  // Gives `path` the database's owner and group where this program may set
  // them (as root), and for a database file the database's mode too.
  // Returns "" or why it could not.
  std::string Give(const std::string& path, bool databaseFile) const;

 private:
  bool known_ = false;
  struct stat database_ {};
};

#pragma once

#include <string>

// One repair at a time per database, across every window and command line
// on this machine: an exclusive lock on a file of our own in /tmp named
// after the database's real path. The system drops the lock when the
// process ends, however it ends, so a killed run never leaves it behind.
class TRunLock {
 public:
  explicit TRunLock(const std::string& databasePath);
  ~TRunLock();
  TRunLock(const TRunLock&) = delete;
  TRunLock& operator=(const TRunLock&) = delete;

  // True when this run holds the database; false when another run does.
  bool Held() const { return held_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool held_ = false;
};

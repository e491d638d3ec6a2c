#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include <signal.h>

// Ctrl+C (SIGINT), SIGTERM and SIGHUP (the terminal or the ssh session went
// away) while the program runs. The handler only writes a byte to a pipe; a
// thread of its own reads it and calls `onFirst` for the first signal and
// `onLater` for every later one, so neither ever runs inside a signal
// handler. The previous handlers come back when the object goes.
class TSignalWatcher {
 public:
  TSignalWatcher(std::function<void()> onFirst, std::function<void()> onLater);
  ~TSignalWatcher();
  TSignalWatcher(const TSignalWatcher&) = delete;
  TSignalWatcher& operator=(const TSignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void()> onFirst_;
  std::function<void()> onLater_;
  int pipe_[2] = {-1, -1};
  struct sigaction previousInt_ {};
  struct sigaction previousTerm_ {};
  struct sigaction previousHangUp_ {};
  std::thread thread_;
};

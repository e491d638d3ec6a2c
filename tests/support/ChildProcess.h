#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

// A program started in the background with no terminal (stdin /dev/null),
// its stdout and stderr read together while it runs, so a test can wait for
// a line, send it a signal and time its end. A program still running when the
// object goes is killed.
class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until the output holds `text`; false when it did not within `timeout`
  // or the program ended first.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) const;
  void Signal(int signal) const;
  // The exit status once the program has ended within `timeout` (128 + the
  // signal's number when a signal ended it); nothing while it still runs.
  std::optional<int> WaitForExit(std::chrono::milliseconds timeout);
  std::string Output() const;

 private:
  void ReadOutput(int fd);

  pid_t pid_ = -1;
  std::optional<int> status_;
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::string output_;
  bool outputClosed_ = false;
  std::thread reader_;
};

}  // namespace testsupport

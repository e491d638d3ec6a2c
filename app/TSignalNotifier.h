#pragma once

#include <signal.h>

#include <functional>
#include <iterator>
#include <memory>

class QSocketNotifier;

// SIGTERM, SIGHUP (the session ends, a service manager stops the program) and
// SIGINT (Ctrl+C in the terminal that started the window) turned into a call
// on the UI thread instead of the end of the process: the handler only writes
// a byte to a pipe, which a QSocketNotifier watches, so `onSignal` never runs
// inside a signal handler. One object at a time; the previous handlers come
// back when it goes.
class TSignalNotifier {
 public:
  explicit TSignalNotifier(std::function<void()> onSignal);
  ~TSignalNotifier();
  TSignalNotifier(const TSignalNotifier&) = delete;
  TSignalNotifier& operator=(const TSignalNotifier&) = delete;

 private:
  void Drain();

  std::function<void()> onSignal_;
  int pipe_[2] = {-1, -1};
  static constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
  struct sigaction previous_[std::size(kSignals)]{};
  std::unique_ptr<QSocketNotifier> notifier_;
};

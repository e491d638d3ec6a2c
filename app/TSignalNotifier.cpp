#include "app/TSignalNotifier.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The pipe's writing end, for the handler: a handler can reach nothing but
// objects of static storage, and a lock-free atomic is safe to read there.
std::atomic<int> signalPipe{-1};

void OnSignal(int) {
  const int saved = errno;
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const char signalled = 's';
    const ssize_t ignored = write(fd, &signalled, 1);
    (void)ignored;  // a full pipe already holds enough signals
  }
  errno = saved;
}

}  // namespace

TSignalNotifier::TSignalNotifier(std::function<void()> onSignal) : onSignal_(std::move(onSignal)) {
  if (pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  notifier_ = std::make_unique<QSocketNotifier>(pipe_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { Drain(); });
  signalPipe = pipe_[1];

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &action, &previous_[i]);
  }
}

TSignalNotifier::~TSignalNotifier() {
  for (std::size_t i = 0; i < std::size(kSignals); ++i) {
    sigaction(kSignals[i], &previous_[i], nullptr);
  }
  signalPipe = -1;
  notifier_.reset();
  close(pipe_[0]);
  close(pipe_[1]);
}

void TSignalNotifier::Drain() {
  bool signalled = false;
  char bytes[64];
  for (;;) {
    const ssize_t got = read(pipe_[0], bytes, sizeof bytes);
    if (got > 0) {
      signalled = true;
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // empty for now
    }
  }
  // Several signals before the loop came round count as one.
  if (signalled) {
    onSignal_();
  }
}

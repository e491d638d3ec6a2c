#include "cli/TSignalWatcher.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>

namespace {

// The pipe's writing end, for the handler: a handler can reach nothing but
// objects of static storage, and a lock-free atomic is safe to read there.
std::atomic<int> signalPipe{-1};

constexpr char kSignalled = 's';
constexpr char kStop = 'q';

void OnSignal(int) {
  const int saved = errno;
  const int fd = signalPipe.load();
  if (fd >= 0) {
    const ssize_t ignored = write(fd, &kSignalled, 1);
    (void)ignored;  // a full pipe already holds enough signals
  }
  errno = saved;
}

}  // namespace

TSignalWatcher::TSignalWatcher(std::function<void()> onFirst, std::function<void()> onLater)
    : onFirst_(std::move(onFirst)), onLater_(std::move(onLater)) {
  if (pipe2(pipe_, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  fcntl(pipe_[1], F_SETFL, fcntl(pipe_[1], F_GETFL) | O_NONBLOCK);
  signalPipe = pipe_[1];
  thread_ = std::thread([this] { Watch(); });

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, &previousInt_);
  sigaction(SIGTERM, &action, &previousTerm_);
  sigaction(SIGHUP, &action, &previousHangUp_);
}

TSignalWatcher::~TSignalWatcher() {
  sigaction(SIGINT, &previousInt_, nullptr);
  sigaction(SIGTERM, &previousTerm_, nullptr);
  sigaction(SIGHUP, &previousHangUp_, nullptr);
  signalPipe = -1;
  // A blocking write: the stop must get through even behind many signals.
  fcntl(pipe_[1], F_SETFL, fcntl(pipe_[1], F_GETFL) & ~O_NONBLOCK);
  const ssize_t ignored = write(pipe_[1], &kStop, 1);
  (void)ignored;
  thread_.join();
  close(pipe_[0]);
  close(pipe_[1]);
}

void TSignalWatcher::Watch() {
  bool first = true;
  for (;;) {
    char c = 0;
    const ssize_t got = read(pipe_[0], &c, 1);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0 || c == kStop) {
      return;
    }
    if (first) {
      first = false;
      onFirst_();
    } else {
      onLater_();
    }
  }
}

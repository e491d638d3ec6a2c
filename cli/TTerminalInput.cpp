#include "cli/TTerminalInput.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "engine/firebird/TCredentials.h"

namespace {

// Turns the terminal's echo off for its lifetime.
class TEchoOff {
 public:
  TEchoOff() {
    if (tcgetattr(STDIN_FILENO, &saved_) == 0) {
      termios silent = saved_;
      silent.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      active_ = tcsetattr(STDIN_FILENO, TCSAFLUSH, &silent) == 0;
    }
  }
  ~TEchoOff() {
    if (active_) {
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved_);
    }
  }
  TEchoOff(const TEchoOff&) = delete;
  TEchoOff& operator=(const TEchoOff&) = delete;

 private:
  termios saved_{};
  bool active_ = false;
};

// How often a wait for input looks at the cancel.
constexpr int kPollMilliseconds = 200;

// Room for any sensible password, so that reading one never moves it to a
// bigger buffer and leaves a copy behind in freed memory.
constexpr std::size_t kSecretRoom = 512;

}  // namespace

TTerminalInput::TTerminalInput(const std::atomic<bool>& cancelled)
    : cancelled_(cancelled), interactive_(isatty(STDIN_FILENO) == 1) {}

std::optional<std::string> TTerminalInput::ReadLine() const {
  return Read(std::string());
}

std::optional<std::string> TTerminalInput::ReadSecret() const {
  const TEchoOff echoOff;
  std::string buffer;
  buffer.reserve(kSecretRoom);
  return Read(std::move(buffer));
}

std::optional<std::string> TTerminalInput::Read(std::string buffer) const {
  for (;;) {
    if (cancelled_) {
      TCredentials::Wipe(buffer);
      return std::nullopt;
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = poll(&input, 1, kPollMilliseconds);
    if (ready < 0 && errno != EINTR) {
      TCredentials::Wipe(buffer);
      return std::nullopt;
    }
    if (ready <= 0) {
      continue;
    }
    char c = 0;
    const ssize_t got = read(STDIN_FILENO, &c, 1);
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got <= 0) {
      // End of input: a line without its break still counts.
      if (buffer.empty()) {
        return std::nullopt;
      }
      return buffer;
    }
    if (c == '\n') {
      return buffer;
    }
    if (c != '\r') {
      buffer += c;
    }
  }
}

#include "cli/TConsole.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdio>

#include "engine/run/TextUtil.h"

namespace {

// Columns of the terminal; a status line wider than it would wrap, and "\r"
// would then rewrite only its last part.
std::size_t TerminalColumns() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 1) {
    return size.ws_col - 1;
  }
  return 79;
}

}  // namespace

TConsole::TConsole() : TConsole(isatty(STDOUT_FILENO) == 1) {}

TConsole::TConsole(bool statusLine) : statusLine_(statusLine) {}

std::string TConsole::FitToColumns(const std::string& text, std::size_t columns) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const bool continuation = (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80;
    if (!continuation && ++characters > columns) {
      return text.substr(0, i);
    }
  }
  return text;
}

void TConsole::HideStatus() {
  if (statusShown_) {
    std::fputs("\r\033[K", stdout);
    statusShown_ = false;
  }
}

void TConsole::ShowStatus() {
  if (statusLine_ && !prompting_ && !status_.empty()) {
    std::fputs(("\r\033[K" + FitToColumns(status_, TerminalColumns())).c_str(), stdout);
    statusShown_ = true;
  }
  std::fflush(stdout);
}

void TConsole::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  HideStatus();
  std::fputs((WithLineBreaks(text) + "\n").c_str(), stdout);
  ShowStatus();
}

void TConsole::Error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  HideStatus();
  if (prompting_) {
    std::fputs("\n", stdout);  // not behind a question's prompt
  }
  std::fflush(stdout);
  std::fputs((WithLineBreaks(text) + "\n").c_str(), stderr);
  std::fflush(stderr);
  ShowStatus();
}

void TConsole::Status(const std::string& text) {
  if (!statusLine_) {
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (text == status_ && (statusShown_ || prompting_)) {
    return;
  }
  status_ = text;
  HideStatus();
  ShowStatus();
}

void TConsole::Prompt(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  HideStatus();
  prompting_ = true;
  std::fputs(WithLineBreaks(text).c_str(), stdout);
  std::fflush(stdout);
}

void TConsole::EndPrompt(bool echoed) {
  std::lock_guard<std::mutex> lock(mutex_);
  // Without a terminal on the output the typed line break is not in it.
  if (!echoed || !statusLine_) {
    std::fputs("\n", stdout);
  }
  prompting_ = false;
  ShowStatus();
}

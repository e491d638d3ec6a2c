#pragma once

#include <mutex>
#include <string>

// Everything the program shows goes through here, from any thread: whole
// lines on the standard output and, when that output is a terminal, one
// status line below them that is rewritten in place. The status line is
// taken away before any other text and drawn again after it, so it never
// ends up inside the output.
class TConsole {
 public:
  // The status line is shown only when standard output is a terminal.
  TConsole();
  explicit TConsole(bool statusLine);
  TConsole(const TConsole&) = delete;
  TConsole& operator=(const TConsole&) = delete;

  bool HasStatusLine() const { return statusLine_; }

  // Text of one or more lines (any "\r" line breaks become real ones).
  void Line(const std::string& text);
  // Text on the standard error, e.g. why the program cannot start.
  void Error(const std::string& text);
  // The status line's new text; empty hides it. Ignored without a terminal.
  void Status(const std::string& text);
  // A question's last line, without a line break: the answer is typed after
  // it. The status line stays away until EndPrompt.
  void Prompt(const std::string& text);
  // The answer was typed (its line break echoed by the terminal); `echoed`
  // false adds the line break the terminal did not show (a password).
  void EndPrompt(bool echoed = true);

  // `text` cut to at most `columns` characters of UTF-8.
  static std::string FitToColumns(const std::string& text, std::size_t columns);

 private:
  void HideStatus();  // caller holds mutex_
  void ShowStatus();  // caller holds mutex_

  std::mutex mutex_;
  const bool statusLine_;
  std::string status_;
  bool statusShown_ = false;
  bool prompting_ = false;
};

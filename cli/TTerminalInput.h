#pragma once

#include <atomic>
#include <optional>
#include <string>

// Answers typed on the terminal (standard input). A wait for a line ends as
// soon as `cancelled` turns true, so Ctrl+C never leaves the program blocked
// in a read.
class TTerminalInput {
 public:
  explicit TTerminalInput(const std::atomic<bool>& cancelled);

  // Standard input is a terminal: someone can answer.
  bool Interactive() const { return interactive_; }

  // The next line, without its line break; nothing at the end of the input
  // or on a cancel.
  std::optional<std::string> ReadLine() const;
  // The same with the terminal's echo off, for a password. The caller wipes
  // the text after use (TCredentials::Wipe).
  std::optional<std::string> ReadSecret() const;

 private:
  std::optional<std::string> Read(std::string buffer) const;

  const std::atomic<bool>& cancelled_;
  const bool interactive_;
};

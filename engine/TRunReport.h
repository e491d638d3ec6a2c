#pragma once

#include <string>

#include "engine/TRunRecord.h"

// The report of a run: a text file next to the database, named after the run
// like its backup. The file is taken when the run's names are chosen, so a
// second run in the same minute cannot take it, and written at the end of
// the run, whatever the end.
class TRunReport {
 public:
  // Creates `path`, which must not exist (nothing is ever replaced), and
  // keeps it open. Throws std::system_error with the errno of the failure.
  explicit TRunReport(std::string path);
  ~TRunReport();
  TRunReport(const TRunReport&) = delete;
  TRunReport& operator=(const TRunReport&) = delete;

  const std::string& Path() const { return path_; }

  // Writes the text of `record` over whatever an earlier Write left.
  // Throws std::runtime_error with the reason.
  void Write(const TRunRecord& record);

  // The report's text (UTF-8, "\n" line breaks).
  static std::string Compose(const TRunRecord& record);

 private:
  std::string path_;
  int fd_ = -1;
};

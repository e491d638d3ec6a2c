#pragma once

#include <chrono>
#include <string>

#include "engine/run/TRunRecord.h"

// The report of a run: a text file next to the database, named after the run
// like its backup. The file is taken when the run's names are chosen, so a
// second run in the same minute cannot take it, and written at the end of
// the run, whatever the end. From the moment it is taken it says that the
// run is under way, so a run killed before its end (SIGKILL, a power cut)
// leaves a report saying so instead of an empty file; the whole report
// replaces that text in one rename, never leaving a report cut in half.
class TRunReport {
 public:
  // Creates `path`, which must not exist (nothing is ever replaced), keeps it
  // open and writes the under-way text into it, naming `databasePath` when
  // given. Throws std::system_error with the errno of a failed creation; a
  // disk too full for that text does not stop the run.
  explicit TRunReport(std::string path, const std::string& databasePath = {});
  ~TRunReport();
  TRunReport(const TRunReport&) = delete;
  TRunReport& operator=(const TRunReport&) = delete;

  const std::string& Path() const { return path_; }

  // Writes the text of `record` over whatever an earlier Write left: into a
  // new file beside it, renamed over it once whole. Throws
  // std::runtime_error with the reason, leaving the report as it was.
  void Write(const TRunRecord& record);

  // The report's text (UTF-8, "\n" line breaks).
  static std::string Compose(const TRunRecord& record);

  // Removes the report file, but only while the name still leads to the
  // file this run created: a report that could not be written is not left
  // behind, and nobody else's file is ever removed.
  void Discard();
  // What the report says while its run goes on.
  static std::string UnderWayText(const std::string& databasePath,
                                  std::chrono::system_clock::time_point started);

 private:
  // Puts `text` in place of the report's content, whole or not at all.
  void Replace(const std::string& text);

  std::string path_;
  int fd_ = -1;
};

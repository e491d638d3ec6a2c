#pragma once

#include <string>
#include <vector>

#include "engine/run/RunTypes.h"
#include "engine/run/TRunRecord.h"

// The --json file. Its name is taken (the file created empty, never an
// existing one) before the run or the examination starts, so that a name in
// use or a folder that cannot be written stops the program before it does
// anything; the summary is written into it at the end.
class TJsonSummary {
 public:
  struct Contents {
    std::string database;
    std::string olderBackup;
    RunVerdict verdict = RunVerdict::NotValidated;
    bool started = false;  // false: the run ended before its first step
    int exitStatus = 0;
    std::string closingMessage;
    std::vector<std::string> filesMade;  // the report among them
    std::string report;
    // The run's steps as its record holds them; a step still running when
    // the run ended is left out.
    std::vector<TRunRecord::Step> steps;
    TableLosses losses;  // per table the damage touched
  };

  // Throws std::runtime_error with the reason when the file cannot be made.
  explicit TJsonSummary(std::string path);
  ~TJsonSummary();
  TJsonSummary(const TJsonSummary&) = delete;
  TJsonSummary& operator=(const TJsonSummary&) = delete;

  const std::string& Path() const { return path_; }
  // Throws std::runtime_error when the text cannot be written.
  void Write(const Contents& contents);
  // Writes a text already composed (the examination's JSON).
  void WriteText(const std::string& text);

  static std::string Compose(const Contents& contents);
  static const char* VerdictName(RunVerdict verdict);
  static const char* OutcomeName(StepPhase phase, StepOutcome outcome);

 private:
  std::string path_;
  int fd_ = -1;
};

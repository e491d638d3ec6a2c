#pragma once

#include <atomic>
#include <future>
#include <string>

#include "engine/rows/TGoneRows.h"

// The pages of the run's pristine copy read for the count of destroyed rows
// while the server does the run's other work: started once the copy is
// made, taken at the end. The copy is never written after it is made, and
// the reading shares nothing with the run's thread.
class TCopyReading {
 public:
  TCopyReading() = default;
  // A reading still going is told to stop and waited for.
  ~TCopyReading();
  TCopyReading(const TCopyReading&) = delete;
  TCopyReading& operator=(const TCopyReading&) = delete;

  // Starts reading `copyPath` on a thread of its own; a reading started
  // before is dropped.
  void Start(const std::string& copyPath);
  // The findings of `copyPath`: those of the reading started for it, else
  // read now.
  TGoneRows::TCopyFindings Take(const std::string& copyPath);

 private:
  void Drop();

  std::string path_;
  // Declared before the reading, so that it outlives the thread.
  std::atomic<bool> stop_{false};
  std::future<TGoneRows::TCopyFindings> reading_;
};

#pragma once

#include <exception>
#include <string>
#include <vector>

#include "fbaccess/TIBControlService.h"

// A service attachment whose actions produce text output, read line by line.
class TIBControlAndQueryService : public TIBControlService {
 public:
  // Size of the output buffer, allocated at the first read and kept (a change
  // resizes it when it exists). Kept between 4 and 65535 bytes, the most one
  // query can carry.
  int BufferSize() const { return bufferSize_; }
  void SetBufferSize(int size);

  // True once the running action's output has ended.
  bool AtEnd() const { return atEnd_; }

  // The next line of the running action's output, waiting for the server as
  // long as it takes. At the end of the output it returns "" and sets AtEnd.
  // Fails with index 93 before any start and 95 for a malformed answer. A
  // failure of the server is raised once the lines queued before it have
  // been returned (or at once when nothing more comes), detaching the object.
  std::string ReadOutputLine();

 protected:
  void ActionStarting(int action) override;

 private:
  [[noreturn]] void RaiseFailure();

  int bufferSize_ = 32000;
  std::vector<char> buffer_;
  int action_ = 0;
  bool atEnd_ = false;
  std::exception_ptr failure_;  // the server's, held until the output ends
};

#pragma once

#include <string>
#include <vector>

namespace testsupport {

// What a finished run may have left on the server: files it still holds open
// and connections still open from this process.
class ServerLeftovers {
 public:
  // The files under `folder` the server process still has open, each as its
  // descriptor reads ("... (deleted)" for a file already removed).
  static std::vector<std::string> FilesHeldUnder(const std::string& folder);
  // Waits up to `timeoutMs` for FilesHeldUnder to become empty and returns
  // what is still held then.
  static std::vector<std::string> WaitUntilNoneHeldUnder(const std::string& folder,
                                                         int timeoutMs = 2000);
  // TCP connections of this process to the server's port (3050): every
  // attachment and service attachment has one.
  static int ConnectionsOfThisProcess();
};

}  // namespace testsupport

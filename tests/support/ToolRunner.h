#pragma once

#include <string>
#include <vector>

namespace testsupport {

// What a finished command left behind. `output` holds stdout and stderr
// interleaved in the order they arrived; `out` and `err` hold each alone.
struct ToolResult {
  int exitCode = -1;
  std::string out;
  std::string err;
  std::string output;

  bool Ok() const { return exitCode == 0; }
};

// Runs a program with arguments (no shell: nothing in an argument is
// interpreted), feeds it `input` on stdin and waits for it to end.
class ToolRunner {
 public:
  // argv[0] is looked up in PATH. Throws std::runtime_error when the program
  // cannot be started at all.
  static ToolResult Run(const std::vector<std::string>& argv, const std::string& input = {});
};

}  // namespace testsupport

// The window's program as a separate process: SIGTERM and SIGHUP close it as
// the close button would, instead of ending the process where it stands.
#include <gtest/gtest.h>

#include <string>

#include "support/ToolRunner.h"

using testsupport::ToolResult;
using testsupport::ToolRunner;

namespace {

// Starts the window offscreen, waits until it handles SIGHUP (its handlers
// are installed together), sends `signal` and prints how it ended.
ToolResult SignalTheWindow(const std::string& signal) {
  const std::string script =
      "QT_QPA_PLATFORM=offscreen \"$0\" >/dev/null 2>&1 & pid=$!\n"
      "for i in $(seq 200); do\n"
      "  mask=$(awk '/^SigCgt/ {print $2}' /proc/$pid/status 2>/dev/null)\n"
      "  [ -n \"$mask\" ] && [ $((0x$mask & 1)) -eq 1 ] && break\n"
      "  sleep 0.05\n"
      "done\n"
      "kill -$1 $pid\n"
      "for i in $(seq 400); do kill -0 $pid 2>/dev/null || break; sleep 0.05; done\n"
      "kill -KILL $pid 2>/dev/null\n"
      "wait $pid; echo \"status=$?\"\n";
  return ToolRunner::Run({"/bin/sh", "-c", script, TESSARINE_APP, signal});
}

TEST(WindowSignal, TermAndHangUpCloseTheIdleWindowCleanly) {
  for (const std::string signal : {"TERM", "HUP"}) {
    const ToolResult result = SignalTheWindow(signal);
    // 128 + the signal's number would mean the signal ended the process.
    EXPECT_EQ("status=0\n", result.out) << signal << "\n" << result.output;
  }
}

}  // namespace

#pragma once

#include <functional>

// The QApplication of the window's integration tests (one for the program,
// on the offscreen platform) is set up by WindowTestSupport.cpp.

// Processes UI events until `condition` holds or `timeoutMs` passes.
bool WaitUntil(const std::function<bool()>& condition, int timeoutMs);

#pragma once

#include <stdexcept>

// Thrown by a front end from any IRecoveryHost call when it can no longer show
// anything (the window is closing). The run then ends at once without calling
// the front end again; step routines must let it pass.
class ERunAborted : public std::runtime_error {
 public:
  ERunAborted() : std::runtime_error("a execução foi interrompida") {}
};

#pragma once

#include <string>
#include <utility>

// Why a run stopped before its end without a verdict of its own.
enum class AbortReason {
  FrontEndClosed,  // the window is closing: nothing can be shown any more
  Cancelled,       // the operator asked to cancel
  Unanswered,      // a question nobody can answer (no terminal, no --answer)
};

// Thrown from a front-end call, or by the engine when a cancel was asked for,
// to end the run at once. It is deliberately not a std::exception: the
// routines' generic handlers catch std::exception, and must never turn a
// cancel into an ordinary failure and go on.
class ERunAborted {
 public:
  explicit ERunAborted(AbortReason reason = AbortReason::FrontEndClosed, std::string detail = {})
      : reason_(reason), detail_(std::move(detail)) {}

  AbortReason Reason() const { return reason_; }
  // For Unanswered, the question's text.
  const std::string& Detail() const { return detail_; }

 private:
  AbortReason reason_;
  std::string detail_;
};

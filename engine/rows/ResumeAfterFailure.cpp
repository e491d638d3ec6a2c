#include "engine/rows/ResumeAfterFailure.h"

void ResumeAfterFailure(TConnection& target, const std::function<void()>& resume) noexcept {
  try {
    if (target.Transaction().Active()) {
      target.Transaction().Rollback();
    }
    resume();
  } catch (...) {
    // Leaving early already.
  }
}

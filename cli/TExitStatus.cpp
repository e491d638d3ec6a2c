#include "cli/TExitStatus.h"

int TExitStatus::For(RunVerdict verdict) {
  switch (verdict) {
    case RunVerdict::Repaired:
    case RunVerdict::NoErrors:
      return kRepairedOrNoErrors;
    case RunVerdict::StillCorrupt:
      return kStillCorrupt;
    case RunVerdict::InUse:
    case RunVerdict::NotValidated:
      return kInUseOrNotValidated;
    case RunVerdict::NotADatabase:
    case RunVerdict::LoginRefused:
    case RunVerdict::Unanswered:
      return kUsage;
    case RunVerdict::Cancelled:
      return kCancelled;
    case RunVerdict::RepairedWithLosses:
      return kRepairedWithLosses;
  }
  return kInUseOrNotValidated;
}

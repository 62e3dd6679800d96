#include "link/port_failure.h"

#include <cerrno>

namespace vn {

std::string DescribePortFailure(const Failure& failure) {
  std::string text;
  switch (failure.kind) {
    case FailureKind::kNone:
      return "";
    case FailureKind::kNotFound:
      text = "no such device; check the name, or plug the adapter in";
      break;
    case FailureKind::kPermissionDenied:
      text = "permission denied" + PermissionAdvice();
      break;
    case FailureKind::kBusy:
      // The exclusive mode (EBUSY) says only that someone set it; the holder is named when known.
      if (!failure.detail.empty()) {
        text = "busy; " + failure.detail + " is using it";
      } else if (failure.systemCode == EBUSY) {
        text = "busy; another program holds the port in exclusive mode";
      } else {
        text = "busy; another program (or another copy of this one) is using it";
      }
      break;
    case FailureKind::kWrongKind:
      text = failure.detail.empty() ? "not a serial port" : failure.detail + ", not a serial port";
      break;
    case FailureKind::kSetupFailed:
      text = "the line settings were refused";
      break;
    case FailureKind::kNoSpace:
    case FailureKind::kDamaged:
    case FailureKind::kStopped:
    case FailureKind::kOther:
      text = "it cannot be opened";
      break;
  }
  if (!failure.systemMessage.empty()) text += " (" + failure.systemMessage + ")";
  return text;
}

}  // namespace vn

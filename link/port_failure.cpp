#include "link/port_failure.h"

namespace vn {

std::string DescribePortFailure(const PortOpenFailure& failure) {
  std::string text;
  switch (failure.problem) {
    case PortProblem::kNone:
      return "";
    case PortProblem::kNoSuchDevice:
      text = "no such device; check the name, or plug the adapter in";
      break;
    case PortProblem::kPermissionDenied:
      text = "permission denied" + PermissionAdvice();
      break;
    case PortProblem::kBusy:
      text = failure.detail.empty()
                 ? "busy; another program (or another copy of this one) is using it"
                 : "busy; " + failure.detail + " is using it";
      break;
    case PortProblem::kNotASerialPort:
      text = failure.detail.empty() ? "not a serial port" : failure.detail + ", not a serial port";
      break;
    case PortProblem::kSetupFailed:
      text = "the line settings were refused";
      break;
  }
  if (!failure.systemMessage.empty()) text += " (" + failure.systemMessage + ")";
  return text;
}

}  // namespace vn

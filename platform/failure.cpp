#include "platform/failure.h"

#include <cerrno>
#include <cstring>

namespace vn {
namespace {

// errno sorted into the kinds; system_message_win32.cpp sorts Windows' codes the same way.
FailureKind KindOfErrno(int code) {
  switch (code) {
    case 0:
      return FailureKind::kOther;  // failed, though the system did not say why
    case ENOENT:
    case ENXIO:
    case ENODEV:
      return FailureKind::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return FailureKind::kPermissionDenied;
    case EBUSY:
      return FailureKind::kBusy;
    case EISDIR:
    case ENOTDIR:
    case ENOTTY:
      return FailureKind::kWrongKind;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
      return FailureKind::kNoSpace;
    default:
      return FailureKind::kOther;
  }
}

}  // namespace

Failure FailureOfErrno(int code, std::string action, std::string subject) {
  return {KindOfErrno(code), std::move(action), std::move(subject), std::strerror(code), {}, code};
}

Failure FailureSaying(FailureKind kind, std::string words, std::string subject) {
  return {kind, {}, std::move(subject), std::move(words), {}};
}

std::string FailureText(const Failure& failure) {
  if (!failure.Failed()) return "";
  std::string words = failure.systemMessage.empty() ? failure.detail : failure.systemMessage;
  if (!failure.action.empty()) {
    std::string text = failure.action;
    if (!failure.subject.empty()) text += " " + failure.subject;
    return words.empty() ? text : text + ": " + words;
  }
  if (failure.subject.empty()) return words;
  return words.empty() ? failure.subject : failure.subject + " " + words;
}

}  // namespace vn

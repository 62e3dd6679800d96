#include "link/box_outcome.h"

#include "link/upload_output.h"

namespace vn {

const char* BoxFailureKindName(BoxFailureKind kind) {
  switch (kind) {
    case BoxFailureKind::kNone:
      return nullptr;
    case BoxFailureKind::kIdentityRefused:
      return "identity-refused";
    case BoxFailureKind::kEraseFailed:
      return "erase-failed";
    case BoxFailureKind::kProgramFailed:
      return "program-failed";
    case BoxFailureKind::kNoAnswer:
      return "no-answer";
    case BoxFailureKind::kTooManyResends:
      return "too-many-resends";
    case BoxFailureKind::kDamagedData:
      return "damaged-data";
    case BoxFailureKind::kUnexpectedAnswer:
      return "unexpected-answer";
    case BoxFailureKind::kPortLost:
      return "port-lost";
    case BoxFailureKind::kStalled:
      return "stalled";
    case BoxFailureKind::kStopped:
      return "stopped";
    case BoxFailureKind::kOutputUnwritable:
      return "output-unwritable";
    case BoxFailureKind::kContentDiffers:
      return "content-differs";
    case BoxFailureKind::kIdentityMismatch:
      return "identity-mismatch";
  }
  return nullptr;
}

const char* BoxResultName(BoxResult result) {
  switch (result) {
    case BoxResult::kSuccess:
      return "success";
    case BoxResult::kStopped:
      return "stopped";
    case BoxResult::kFailure:
      break;
  }
  return "failure";
}

std::string FailureReason(BoxFailureKind kind, const Failure& failure) {
  if (kind == BoxFailureKind::kStopped) return "stopped before the box was done";
  // An output that could not be written comes with what to do about it.
  const std::string words =
      kind == BoxFailureKind::kOutputUnwritable ? FileErrorText(failure) : FailureText(failure);
  if (kind == BoxFailureKind::kPortLost) {
    return "the port went away" + (words.empty() ? "" : ": " + words);
  }
  return words;
}

std::string OutcomeReason(const BoxOutcome& outcome) {
  if (outcome.result == BoxResult::kStopped) return FailureReason(BoxFailureKind::kStopped, {});
  if (outcome.Succeeded()) return FailureText(outcome.failure);
  const std::string reason = FailureReason(outcome.failureKind, outcome.failure);
  if (!reason.empty() || !outcome.statusText.empty()) return reason;
  return "ended before the box was done";
}

}  // namespace vn

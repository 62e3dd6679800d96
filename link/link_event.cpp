#include "link/link_event.h"

#include "link/link_message.h"

namespace vn {
namespace {

Phase PhaseOfMessage(int index) {
  if (index >= kMsgConnecting && index <= kMsgConnectSuccess) return Phase::kConnect;
  if (index >= kMsgVerify && index <= kMsgIdentSuccess) return Phase::kVerify;
  if (index >= kMsgTransfer && index <= kMsgTransferSuccess) return Phase::kTransfer;
  if (index >= kMsgErase && index <= kMsgEraseSuccess) return Phase::kErase;
  if (index >= kMsgProgram && index <= kMsgProgramSuccess) return Phase::kProgram;
  return Phase::kNone;
}

bool IsFailureMessage(int index) {
  switch (index) {
    case kMsgConnectFailed:
    case kMsgIdentFailed:
    case kMsgTransferFailed:
    case kMsgEraseFailed:
    case kMsgProgramFailed:
    case kMsgUpdateFailed:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool IsStepSuccess(const LinkEvent& event) {
  if (event.kind == EventKind::kSuccess) return true;
  if (event.kind != EventKind::kStatus) return false;
  switch (event.message) {
    case kMsgConnectSuccess:
    case kMsgIdentSuccess:
    case kMsgTransferSuccess:
    case kMsgEraseSuccess:
    case kMsgProgramSuccess:
    case kMsgUpdateSuccess:
      return true;
    default:
      return false;
  }
}

const char* PercentPrefix(Phase phase) {
  switch (phase) {
    case Phase::kErase:
      return "Erase flash...  ";
    case Phase::kProgram:
      return "Program flash...  ";
    default:
      return "Transfering Data:  ";
  }
}

LinkEvent MessageEvent(int index) {
  LinkEvent event;
  event.kind = IsFailureMessage(index) ? EventKind::kFailure : EventKind::kStatus;
  event.phase = PhaseOfMessage(index);
  event.message = index;
  if (const char* text = LinkMessageText(index)) event.text = text;
  if (event.kind == EventKind::kFailure) event.reason = event.text;
  return event;
}

LinkEvent PercentEvent(Phase phase, int part, int count) {
  LinkEvent event;
  event.kind = EventKind::kPercent;
  event.phase = phase;
  event.part = part;
  event.count = count;
  const int percent = count > 0 ? part * 100 / count : 0;
  event.text = PercentPrefix(phase) + std::to_string(percent) + "%";
  return event;
}

LinkEvent StatusEvent(std::string text, EventKind kind) {
  LinkEvent event;
  event.kind = kind;
  event.text = std::move(text);
  if (kind == EventKind::kFailure) event.reason = event.text;
  return event;
}

}  // namespace vn

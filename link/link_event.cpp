#include "link/link_event.h"

#include "link/link_message.h"

namespace vn {

bool IsStepSuccess(const LinkEvent& event) {
  if (event.kind == EventKind::kSuccess) return true;
  return event.kind == EventKind::kStatus && IsSuccessMessage(event.message);
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::kConnect:
      return "connect";
    case Phase::kVerify:
      return "verify";
    case Phase::kTransfer:
      return "transfer";
    case Phase::kErase:
      return "erase";
    case Phase::kProgram:
      return "program";
    default:
      return "none";
  }
}

const char* EventKindName(EventKind kind) {
  switch (kind) {
    case EventKind::kStatus:
      return "status";
    case EventKind::kPercent:
      return "percent";
    case EventKind::kBar:
      return "bar";
    case EventKind::kBytes:
      return "bytes";
    case EventKind::kBusy:
      return "busy";
    case EventKind::kIdle:
      return "idle";
    case EventKind::kFailure:
      return "failure";
    case EventKind::kSuccess:
      return "success";
    case EventKind::kWarning:
      return "warning";
    case EventKind::kNotice:
      return "notice";
  }
  return "status";
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
  return event;
}

LinkEvent BoxDoneEvent() {
  LinkEvent event = MessageEvent(kMsgUpdateSuccess);
  event.kind = EventKind::kSuccess;
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
  return event;
}

}  // namespace vn

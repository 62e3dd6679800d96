#include "link/link_event.h"

#include <iterator>

#include "link/link_message.h"

namespace vn {

bool IsStepSuccess(const LinkEvent& event) {
  if (event.kind == EventKind::kSuccess) return true;
  return event.kind == EventKind::kStatus && IsSuccessMessage(event.message);
}

namespace {

// What each phase is called: its name for other programs, and the words a percentage of it
// follows in the status line. Rows in Phase's order.
struct PhaseRow {
  Phase phase;
  const char* name;
  const char* percentPrefix;
};
constexpr PhaseRow kPhaseRows[] = {
    {Phase::kNone, "none", "Transfering Data:  "},
    {Phase::kConnect, "connect", "Transfering Data:  "},
    {Phase::kVerify, "verify", "Transfering Data:  "},
    {Phase::kTransfer, "transfer", "Transfering Data:  "},
    {Phase::kErase, "erase", "Erase flash...  "},
    {Phase::kProgram, "program", "Program flash...  "},
};
constexpr bool RowsInPhaseOrder() {
  for (size_t at = 0; at < std::size(kPhaseRows); ++at) {
    if (size_t(kPhaseRows[at].phase) != at) return false;
  }
  return std::size(kPhaseRows) == size_t(Phase::kProgram) + 1;
}
static_assert(RowsInPhaseOrder());

const PhaseRow& RowOf(Phase phase) {
  const size_t at = size_t(phase);
  return at < std::size(kPhaseRows) ? kPhaseRows[at] : kPhaseRows[0];
}

}  // namespace

const char* PhaseName(Phase phase) {
  return RowOf(phase).name;
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
    case EventKind::kReport:
      return "report";
  }
  return "status";
}

const char* PercentPrefix(Phase phase) {
  return RowOf(phase).percentPrefix;
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

#include "app/observer_bridge.h"

#include "app/status_tone.h"

namespace vn {

void ObserverBridge::OnEvent(const LinkEvent& event) {
  switch (event.kind) {
    case EventKind::kBar:
      emit Progress(Run(), event.part, event.count);
      return;
    case EventKind::kBusy:
      emit ControlsEnabled(Run(), false);
      return;
    case EventKind::kIdle:
      emit ControlsEnabled(Run(), true);
      return;
    case EventKind::kBytes:
      return;
    case EventKind::kWarning:
      // The status line shows only the operation's own texts; a warning goes with the details.
      emit Detail(Run(), QString::fromStdString(event.text));
      return;
    case EventKind::kNotice:
      emit Notice(Run(), QString::fromStdString(event.text));
      return;
    case EventKind::kStatus:
    case EventKind::kPercent:
    case EventKind::kFailure:
    case EventKind::kSuccess:
      break;
  }
  emit Status(Run(), QString::fromStdString(event.text), ToneOfEvent(event));
}

void ObserverBridge::OnErrorBox(const std::string& text) {
  emit ErrorBox(Run(), QString::fromStdString(text));
}

void ObserverBridge::OnDetail(const std::string& text) {
  emit Detail(Run(), QString::fromStdString(text));
}

}  // namespace vn

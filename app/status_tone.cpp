#include "app/status_tone.h"

namespace vn {

StatusTone ToneOfEvent(const LinkEvent& event) {
  if (event.kind == EventKind::kFailure) return StatusTone::kFailure;
  return IsStepSuccess(event) ? StatusTone::kSuccess : StatusTone::kNeutral;
}

QColor ColourOfTone(StatusTone tone) {
  switch (tone) {
    case StatusTone::kSuccess:
      return QColor(0x00, 0x80, 0x00);
    case StatusTone::kFailure:
      return QColor(0xC0, 0x00, 0x00);
    case StatusTone::kNeutral:
      break;
  }
  return QColor(Qt::darkBlue);  // the panels' navy
}

}  // namespace vn

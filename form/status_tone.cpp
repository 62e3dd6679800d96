#include "form/status_tone.h"

namespace vn {

StatusTone ToneOfEvent(const LinkEvent& event) {
  if (event.kind == EventKind::kFailure) return StatusTone::kFailure;
  return IsStepSuccess(event) ? StatusTone::kSuccess : StatusTone::kNeutral;
}

Rgb ColourOfTone(StatusTone tone) {
  switch (tone) {
    case StatusTone::kSuccess:
      return {0x00, 0x80, 0x00};
    case StatusTone::kFailure:
      return {0xC0, 0x00, 0x00};
    case StatusTone::kNeutral:
      break;
  }
  return {0x00, 0x00, 0x80};  // the panels' navy
}

Rgb LampColour(bool portOpen) {
  return portOpen ? Rgb{0x00, 0xFF, 0x00} : Rgb{0xFF, 0x00, 0x00};
}

}  // namespace vn

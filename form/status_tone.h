#pragma once
// How the status line reads at a glance: a step that went right, one that went wrong, or neither
// (a step under way). The texts themselves stay as they are; only their colour tells.
#include <cstdint>

#include "link/link_event.h"

namespace vn {

enum class StatusTone { kNeutral, kSuccess, kFailure };

// A colour as the views draw it, whatever their toolkit.
struct Rgb {
  uint8_t red = 0;
  uint8_t green = 0;
  uint8_t blue = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

StatusTone ToneOfEvent(const LinkEvent& event);
Rgb ColourOfTone(StatusTone tone);
// The port lamp: lime while the port is open, red while it is closed or failed.
Rgb LampColour(bool portOpen);

}  // namespace vn

#pragma once
// How the status line reads at a glance: a step that went right, one that went wrong, or neither
// (a step under way). The texts themselves stay as they are; only their colour tells.
#include <QColor>

#include "link/link_event.h"

namespace vn {

enum class StatusTone { kNeutral, kSuccess, kFailure };

StatusTone ToneOfEvent(const LinkEvent& event);
QColor ColourOfTone(StatusTone tone);

}  // namespace vn

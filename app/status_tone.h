#pragma once
// How the status line reads at a glance: a step that went right, one that went wrong, or neither
// (a step under way). The texts themselves stay as they are; only their colour tells.
#include <QColor>
#include <QString>

namespace vn {

enum class StatusTone { kNeutral, kSuccess, kFailure };

StatusTone ToneOfStatus(const QString& text);
QColor ColourOfTone(StatusTone tone);

}  // namespace vn

#include "app/status_tone.h"

#include "link/status_texts.h"

namespace vn {

StatusTone ToneOfStatus(const QString& text) {
  // Every step of the link reports "... Success!" or "... failed!"; the driver's refusals before
  // a run are the three texts about the file.
  if (text.endsWith(QLatin1String("Success!"))) return StatusTone::kSuccess;
  if (text.endsWith(QLatin1String("failed!")) || text == QLatin1String(kNoDownloadFileText) ||
      text == QLatin1String(kMissingDownloadFileText) || text == QLatin1String(kNoUploadFileText)) {
    return StatusTone::kFailure;
  }
  return StatusTone::kNeutral;
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

#pragma once
// The small pictures beside the buttons' captions, drawn here rather than stored: an open folder,
// a disk, a play triangle, a turning arrow and a cross.
#include <windows.h>

namespace vn {

enum class ButtonPicture { kOpen, kSave, kStart, kReset, kClose };

// A 16 x 16 (scaled) icon with a transparent background; made once, kept for the process.
HICON ButtonIcon(ButtonPicture picture);

}  // namespace vn

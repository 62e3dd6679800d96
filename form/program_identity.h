#pragma once
// The names this program is known by on the desktop.
#include <cstdint>

namespace vn {

// The application title, also the name a second copy looks for to hand over to the first.
inline constexpr const char* kApplicationTitle = "[Vespanode 3.1.05]";
// The main window's caption.
inline constexpr const char* kWindowCaption = "Vespanode 3.1.05";
// What a second copy sends the first one: "come to the front".
inline constexpr uint32_t kHandOverMessage = 0x1400;

}  // namespace vn

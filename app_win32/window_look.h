#pragma once
// What the Win32 windows share in looks: sizes in pixels at 96 dots per inch, scaled to the
// screen's, and the fonts of the panels.
#include <windows.h>

namespace vn {

// `pixels` at 96 dots per inch, in the screen's pixels.
int Scaled(int pixels);
RECT ScaledRect(int left, int top, int width, int height);

// Arial, `pixels` high (before scaling); made once, kept for the life of the process.
HFONT ArialFont(int pixels, bool bold);
// The About window's display font for the program's name.
HFONT DisplayFont(int pixels);

inline constexpr COLORREF kNavy = RGB(0x00, 0x00, 0x80);

// A child control at a place given at 96 dots per inch, with its font.
HWND MakeControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                 DWORD extendedStyle, RECT place, int id, HFONT font);

// Registers a top-level window class with the arrow cursor and the panels' face colour.
void RegisterPanelClass(const wchar_t* className, WNDPROC procedure);

// The window's outer size for a client area of this size, and centred on the desktop's work area.
void PlaceCentred(HWND window, int clientWidth, int clientHeight);

}  // namespace vn

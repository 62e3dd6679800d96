#include "app_win32/window_look.h"

#include <map>
#include <utility>

namespace vn {
namespace {

int ScreenDpi() {
  static const int dpi = [] {
    HDC screen = GetDC(nullptr);
    const int value = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ReleaseDC(nullptr, screen);
    return value > 0 ? value : 96;
  }();
  return dpi;
}

HFONT MakeFont(const wchar_t* face, int pixels, int weight, bool italic) {
  return CreateFontW(-Scaled(pixels), 0, 0, 0, weight, italic, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, face);
}

}  // namespace

int Scaled(int pixels) {
  return MulDiv(pixels, ScreenDpi(), 96);
}

RECT ScaledRect(int left, int top, int width, int height) {
  return {Scaled(left), Scaled(top), Scaled(left + width), Scaled(top + height)};
}

HFONT ArialFont(int pixels, bool bold) {
  // Only the user-interface thread makes fonts.
  static std::map<std::pair<int, bool>, HFONT> fonts;
  HFONT& font = fonts[{pixels, bold}];
  if (!font) font = MakeFont(L"Arial", pixels, bold ? FW_BOLD : FW_NORMAL, false);
  return font;
}

HFONT DisplayFont(int pixels) {
  static HFONT font = MakeFont(L"Times New Roman", pixels, FW_BOLD, true);
  return font;
}

HWND MakeControl(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style,
                 DWORD extendedStyle, RECT place, int id, HFONT font) {
  HWND control = CreateWindowExW(
      extendedStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, place.left, place.top,
      place.right - place.left, place.bottom - place.top, parent,
      reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (control && font) SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return control;
}

void RegisterPanelClass(const wchar_t* className, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
  windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  windowClass.lpszClassName = className;
  RegisterClassExW(&windowClass);
}

void PlaceCentred(HWND window, int clientWidth, int clientHeight) {
  RECT outer{0, 0, Scaled(clientWidth), Scaled(clientHeight)};
  AdjustWindowRectEx(&outer, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(window, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace vn

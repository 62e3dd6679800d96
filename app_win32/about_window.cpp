#include "app_win32/about_window.h"

#include "app_win32/banner_picture.h"
#include "app_win32/control_ids.h"
#include "app_win32/window_look.h"
#include "platform/wide_text_win32.h"

namespace vn {
namespace {

constexpr wchar_t kClassName[] = L"TFormAbout";
// 505 x 500 outside, with the title bar and the borders of a usual desktop around it.
constexpr int kClientWidth = 497;
constexpr int kClientHeight = 473;
constexpr int kModificationItemHeight = 15;

struct AboutState {
  BannerPicture banner{VN_RESOURCE_ABOUT_BANNER};
  bool closed = false;
};

AboutState* StateOf(HWND window) {
  return reinterpret_cast<AboutState*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

void MakeLabel(HWND window, const std::string& text, int left, int top, HFONT font, int id = -1) {
  // Wide enough for the text; the label's own background is the panel's.
  HDC dc = GetDC(window);
  HGDIOBJ previous = SelectObject(dc, font);
  const std::wstring wide = WideFromUtf8(text);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  MakeControl(window, L"STATIC", wide.c_str(), SS_LEFT | SS_NOPREFIX, 0,
              {Scaled(left), Scaled(top), Scaled(left) + size.cx + 2, Scaled(top) + size.cy}, id,
              font);
}

void MakeSeparator(HWND window, int left, int top, int width) {
  MakeControl(window, L"STATIC", L"", SS_ETCHEDHORZ, 0, ScaledRect(left, top, width, 2), -1,
              nullptr);
}

void BuildControls(HWND window, const AboutContent& content) {
  MakeLabel(window, content.name, 11, 92, DisplayFont(56));
  MakeLabel(window, content.version, 59, 165, ArialFont(14, false));
  MakeSeparator(window, 9, 190, 260);
  MakeLabel(window, content.system, 59, 213, ArialFont(14, false));
  MakeLabel(window, content.memory, 59, 251, ArialFont(14, false));
  MakeLabel(window, content.build, 59, 289, ArialFont(14, false));
  HWND ok = MakeControl(window, L"BUTTON", L"OK", BS_DEFPUSHBUTTON | WS_TABSTOP, 0,
                        ScaledRect(405, 316, 75, 25), VN_ID_ABOUT_OK, ArialFont(14, false));
  MakeSeparator(window, 8, 349, 480);
  MakeControl(window, L"BUTTON", L" Modification ", BS_GROUPBOX, 0, ScaledRect(8, 360, 481, 105),
              -1, ArialFont(14, false));
  HWND list = MakeControl(window, L"LISTBOX", L"", LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                          0, ScaledRect(12, 378, 473, 83), VN_ID_ABOUT_LIST, ArialFont(12, false));
  for (const std::string& line : content.modifications) {
    SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(line).c_str()));
  }
  SendMessageW(list, LB_SETITEMHEIGHT, 0, Scaled(kModificationItemHeight));
  SetFocus(ok);
}

LRESULT CALLBACK AboutProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  AboutState* state = StateOf(window);
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == VN_ID_ABOUT_OK || LOWORD(wParam) == IDOK ||
          LOWORD(wParam) == IDCANCEL) {
        DestroyWindow(window);
        return 0;
      }
      break;
    case WM_CTLCOLORLISTBOX:
      // The change list lies on the panel's colour.
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_BTNFACE));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_CTLCOLORBTN:  // the group box's frame and caption
    case WM_CTLCOLORSTATIC:
      SetBkMode(reinterpret_cast<HDC>(wParam), TRANSPARENT);
      SetTextColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOWTEXT));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(window, &paint);
      RECT panel;
      GetClientRect(window, &panel);
      DrawEdge(dc, &panel, BDR_RAISEDINNER, BF_RECT);
      if (state) state->banner.Draw(dc, ScaledRect(8, 8, 480, 80));
      EndPaint(window, &paint);
      return 0;
    }
    case WM_DESTROY:
      if (state) state->closed = true;
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

void ShowAboutWindow(HWND owner, const AboutContent& content) {
  RegisterPanelClass(kClassName, AboutProcedure);  // again: refused as known, nothing changes
  AboutState state;
  // A caption without title-bar buttons: OK is the one way out.
  HWND window =
      CreateWindowExW(WS_EX_DLGMODALFRAME, kClassName, L"About Upgrade", WS_POPUP | WS_CAPTION, 0,
                      0, 0, 0, owner, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (!window) return;
  SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
  PlaceCentred(window, kClientWidth, kClientHeight);
  BuildControls(window, content);
  EnableWindow(owner, FALSE);
  ShowWindow(window, SW_SHOW);

  MSG message;
  bool quit = false;
  while (!state.closed) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got <= 0) {
      quit = got == 0;
      break;
    }
    if (!IsDialogMessageW(window, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  EnableWindow(owner, TRUE);
  if (IsWindow(window)) DestroyWindow(window);
  SetActiveWindow(owner);
  // The quit belongs to the main loop.
  if (quit) PostQuitMessage(static_cast<int>(message.wParam));
}

}  // namespace vn

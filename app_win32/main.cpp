// The window program's entry: one copy per desktop, then the main window until Close or Exit.
#include <windows.h>
// After windows.h, which they build on.
#include <commctrl.h>
#include <objbase.h>

#include "app_win32/main_window.h"
#include "form/instance_rule.h"
#include "form/program_identity.h"
#include "platform/wide_text_win32.h"

namespace {

// A copy already running has a window of our class: tell it to come forward.
bool HandOver() {
  HWND first = FindWindowW(vn::WideFromUtf8(vn::kApplicationTitle).c_str(), nullptr);
  return first != nullptr && PostMessageW(first, vn::kHandOverMessage, 0, 0);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The window's class is the name a later copy looks for; it is registered with the window.
  if (vn::DecideInstanceRole(HandOver, [] { return true; }) == vn::InstanceRole::kHandedOver) {
    return 0;
  }
  // The banners' decoder and the file dialogs want COM on this thread.
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS |
                                                     ICC_BAR_CLASSES | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  int exitCode = 0;
  {
    vn::MainWindow window;
    exitCode = window.Run();
  }
  if (SUCCEEDED(com)) CoUninitialize();
  return exitCode;
}

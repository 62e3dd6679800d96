// Drives vespanode.exe under Wine as a user would, one step per call, for scripts/test-windows:
// it finds the window by its class, the controls by their numbers, chooses with the lists,
// presses buttons, answers the file dialogs and reads what the window shows. Each step has a time
// limit; a step that fails says what it saw and exits 1.
//
//   window_driver check-layout SECONDS
//   window_driver choose-port TEXT | choose-operation TEXT
//   window_driver choose-file DIALOG-TITLE PATH SECONDS
//   window_driver click open|start|reset|close
//   window_driver watch-status SECONDS [--press BUTTON] PATTERN... [-- choose-operation TEXT]
//                 ("!" first: must be seen; "*" last: a prefix; the button is pressed just before
//                 watching, the choice is made the moment the last pattern shows)
//   window_driver wait-status TEXT SECONDS         ("*" last: a prefix)
//   window_driver wait-idle SECONDS
//   window_driver about SECONDS | about-close SECONDS
//   window_driver second-start EXE SECONDS
//   window_driver close SECONDS
//   window_driver geometry main|about             (WxH+X+Y, for cropping a screenshot)
#include <windows.h>
// After windows.h, which it builds on.
#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app_win32/control_ids.h"
#include "form/form_texts.h"
#include "form/program_identity.h"

namespace {

using Clock = std::chrono::steady_clock;

std::wstring Wide(const std::string& text) {
  std::wstring wide(text.size() * 2 + 1, L'\0');
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                         wide.data(), static_cast<int>(wide.size()));
  wide.resize(static_cast<size_t>(length));
  return wide;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow(text.size() * 4 + 1, '\0');
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), narrow.data(),
                          static_cast<int>(narrow.size()), nullptr, nullptr);
  narrow.resize(static_cast<size_t>(length));
  return narrow;
}

[[noreturn]] void Fail(const std::string& what) {
  std::printf("FAILED: %s\n", what.c_str());
  std::fflush(stdout);
  std::exit(1);
}

// Polls `done` every millisecond until it holds or `seconds` pass.
bool WaitFor(double seconds, const std::function<bool()>& done) {
  const auto end = Clock::now() + std::chrono::duration<double>(seconds);
  while (Clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

std::string TextOf(HWND window) {
  if (!window) return "(no window)";
  wchar_t buffer[4096] = {};
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(window, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 2000, &length)) {
    return "(no answer)";
  }
  return Narrow(std::wstring(buffer, length));
}

HWND MainWindow() {
  return FindWindowW(Wide(vn::kApplicationTitle).c_str(), nullptr);
}

HWND RequireMain() {
  HWND main = MainWindow();
  if (!main) Fail("no window of class " + std::string(vn::kApplicationTitle));
  return main;
}

HWND Control(int id) {
  HWND control = GetDlgItem(RequireMain(), id);
  if (!control) Fail("no control " + std::to_string(id));
  return control;
}

std::vector<std::string> ListEntries(HWND list, bool combo) {
  std::vector<std::string> entries;
  const UINT countMessage = combo ? CB_GETCOUNT : LB_GETCOUNT;
  const UINT lengthMessage = combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN;
  const UINT textMessage = combo ? CB_GETLBTEXT : LB_GETTEXT;
  const LRESULT count = SendMessageW(list, countMessage, 0, 0);
  for (LRESULT index = 0; index < count; ++index) {
    const LRESULT length = SendMessageW(list, lengthMessage, static_cast<WPARAM>(index), 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(list, textMessage, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
    entries.push_back(Narrow(text));
  }
  return entries;
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += "\n    \"" + line + "\"";
  return all;
}

RECT RectOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

// The window's texts and the order of its controls from top to bottom.
void CheckLayout(double seconds) {
  HWND main = nullptr;
  if (!WaitFor(seconds, [&] {
        main = MainWindow();
        return main && IsWindowVisible(main) &&
               SendMessageW(GetDlgItem(main, VN_ID_CB_COM), CB_GETCOUNT, 0, 0) >= 10;
      })) {
    Fail("the window did not appear with its port list within " + std::to_string(seconds) + " s");
  }
  std::vector<std::string> problems;
  auto expect = [&](const std::string& what, const std::string& seen, const std::string& wanted) {
    if (seen != wanted)
      problems.push_back(what + ": \"" + seen + "\", expected \"" + wanted + "\"");
  };
  expect("caption", TextOf(main), vn::kWindowCaption);
  expect("COM label", TextOf(GetDlgItem(main, VN_ID_LABEL_COM)), vn::kComCaption);
  expect("rate label", TextOf(GetDlgItem(main, VN_ID_LABEL_BAU)), vn::kRateCaption);
  expect("E_Bau", TextOf(GetDlgItem(main, VN_ID_E_BAU)), vn::kRateText);
  expect("operation label", TextOf(GetDlgItem(main, VN_ID_LABEL_UPG)), vn::kOperationCaption);
  expect("SB_Open", TextOf(GetDlgItem(main, VN_ID_SB_OPEN)), vn::kOpenCaption);
  expect("SB_Sta", TextOf(GetDlgItem(main, VN_ID_SB_STA)), vn::kStartCaption);
  expect("SB_Reset", TextOf(GetDlgItem(main, VN_ID_SB_RESET)), vn::kResetCaption);
  expect("SB_Close1", TextOf(GetDlgItem(main, VN_ID_SB_CLOSE1)), vn::kCloseCaption);
  expect("E_FileName", TextOf(GetDlgItem(main, VN_ID_E_FILENAME)), "");
  expect("E_Start", TextOf(GetDlgItem(main, VN_ID_E_START)), "");
  const std::vector<std::string> ports = ListEntries(GetDlgItem(main, VN_ID_CB_COM), true);
  for (int number = 1; number <= 10; ++number) {
    char name[16];
    std::snprintf(name, sizeof name, "COM.%02d", number);
    expect("port entry " + std::to_string(number),
           number <= static_cast<int>(ports.size()) ? ports[number - 1] : "(none)", name);
  }
  const std::vector<std::string> operations = ListEntries(GetDlgItem(main, VN_ID_CB_UPG), true);
  if (operations != vn::OperationNames()) problems.push_back("operations:" + Joined(operations));
  expect("chosen port", TextOf(GetDlgItem(main, VN_ID_CB_COM)), "COM.01");
  expect("chosen operation", TextOf(GetDlgItem(main, VN_ID_CB_UPG)), "Download");
  // Top to bottom: the port row, the operation row, Open, Start, the progress bar, the buttons.
  const int order[] = {VN_ID_CB_COM, VN_ID_CB_UPG,   VN_ID_SB_OPEN,
                       VN_ID_SB_STA, VN_ID_PROGRESS, VN_ID_SB_RESET};
  for (size_t i = 1; i < std::size(order); ++i) {
    if (RectOf(GetDlgItem(main, order[i - 1])).top >= RectOf(GetDlgItem(main, order[i])).top) {
      problems.push_back("control " + std::to_string(order[i]) + " is not below " +
                         std::to_string(order[i - 1]));
    }
  }
  const LONG_PTR style = GetWindowLongPtrW(main, GWL_STYLE);
  if (style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)) {
    problems.push_back("the window has title-bar buttons or a sizing border");
  }
  if (!problems.empty()) Fail("the window's layout:" + Joined(problems));
  std::printf("window ready: %zu ports, %zu operations, texts and order as expected\n",
              ports.size(), operations.size());
}

void ChooseEntry(int id, const std::string& text) {
  HWND list = Control(id);
  const std::vector<std::string> entries = ListEntries(list, true);
  for (size_t index = 0; index < entries.size(); ++index) {
    if (entries[index] != text) continue;
    SendMessageW(list, CB_SETCURSEL, index, 0);
    SendMessageW(RequireMain(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    std::printf("chose \"%s\"\n", text.c_str());
    return;
  }
  Fail("no entry \"" + text + "\" in the list; it holds:" + Joined(entries));
}

int ButtonId(const std::string& name) {
  if (name == "open") return VN_ID_SB_OPEN;
  if (name == "start") return VN_ID_SB_STA;
  if (name == "reset") return VN_ID_SB_RESET;
  if (name == "close") return VN_ID_SB_CLOSE1;
  Fail("no button " + name);
}

// Pressed as a click is: the window may open a modal dialog before it answers.
void Click(int id) {
  HWND button = Control(id);
  if (!IsWindowEnabled(button)) Fail("button " + TextOf(button) + " is disabled");
  PostMessageW(button, BM_CLICK, 0, 0);
}

struct Found {
  DWORD process;
  std::wstring windowClass;
  std::wstring title;
  HWND window = nullptr;
};

// A visible top-level window of the program's process with this class (and title, when given).
HWND FindTopLevel(const std::wstring& windowClass, const std::wstring& title) {
  DWORD process = 0;
  GetWindowThreadProcessId(RequireMain(), &process);
  Found found{process, windowClass, title};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto* found = reinterpret_cast<Found*>(context);
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        wchar_t title[256] = {};
        GetWindowTextW(window, title, 256);
        if (process == found->process && IsWindowVisible(window) && found->windowClass == name &&
            (found->title.empty() || found->title == title)) {
          found->window = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found.window;
}

std::string TopLevelTitles() {
  std::string all;
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        if (!IsWindowVisible(window)) return TRUE;
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        *reinterpret_cast<std::string*>(context) +=
            "\n    " + Narrow(name) + " \"" + TextOf(window) + "\"";
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&all));
  return all;
}

void ChooseFile(const std::string& title, const std::string& path, double seconds) {
  Click(VN_ID_SB_OPEN);
  HWND dialog = nullptr;
  if (!WaitFor(seconds,
               [&] { return (dialog = FindTopLevel(L"#32770", Wide(title))) != nullptr; })) {
    Fail("no dialog \"" + title + "\" within " + std::to_string(seconds) +
         " s; windows:" + TopLevelTitles());
  }
  // The file name box: a combo box in the explorer style, an edit box in the old one.
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) name = GetDlgItem(dialog, 0x480);
  if (!name) Fail("the dialog has no file name box");
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(path).c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  HWND fileName = Control(VN_ID_E_FILENAME);
  if (!WaitFor(seconds, [&] { return !IsWindow(dialog) && TextOf(fileName) == path; })) {
    Fail("after the dialog, the file name field shows \"" + TextOf(fileName) + "\", expected \"" +
         path + "\"; the dialog " + (IsWindow(dialog) ? "is still open" : "closed"));
  }
  std::printf("chose \"%s\" in \"%s\"\n", path.c_str(), title.c_str());
}

struct Pattern {
  std::string text;
  bool required;
  bool prefix;
  bool Matches(const std::string& seen) const {
    return prefix ? seen.rfind(text, 0) == 0 : seen == text;
  }
};

// The status texts in the order they show: every text seen must match the pattern reached so far
// or a later one, skipping none that is required; done when the last pattern is seen. Texts that
// stand only for a moment may be missed by sampling, so only the required ones must be seen.
void WatchStatus(double seconds, const std::vector<std::string>& arguments) {
  std::vector<Pattern> patterns;
  for (std::string argument : arguments) {
    Pattern pattern{};
    if (!argument.empty() && argument[0] == '!') {
      pattern.required = true;
      argument.erase(0, 1);
    }
    if (!argument.empty() && argument.back() == '*') {
      pattern.prefix = true;
      argument.pop_back();
    }
    pattern.text = argument;
    patterns.push_back(pattern);
  }
  HWND status = Control(VN_ID_E_START);
  std::vector<std::string> seen;
  size_t at = 0;  // the pattern last matched, or 0 before any
  bool started = false;
  std::string last = "\x01";
  const auto begin = Clock::now();
  auto report = [&] {
    std::string all;
    for (const std::string& line : seen) all += "\n    " + line;
    return all;
  };
  const bool done = WaitFor(seconds, [&] {
    const std::string text = TextOf(status);
    if (text == last) return false;
    last = text;
    const double at_seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%7.3f s  ", at_seconds);
    seen.push_back(stamp + (text.empty() ? std::string("(empty)") : "\"" + text + "\""));
    for (size_t next = started ? at : 0; next < patterns.size(); ++next) {
      if (patterns[next].Matches(text)) {
        at = next;
        started = true;
        return at + 1 == patterns.size();
      }
      if (started && next > at && patterns[next].required) break;
      if (!started && patterns[next].required) break;
    }
    // What the line showed before the watched run, or its clearing; anything else (a refusal)
    // ends the watch at once.
    if (!started && (seen.size() == 1 || text.empty())) return false;
    Fail("status text out of order:" + report());
  });
  if (!done)
    Fail("the status texts did not end as expected within " + std::to_string(seconds) +
         " s; seen:" + report());
  std::printf("status texts in order:%s\n", report().c_str());
}

void WaitStatus(std::string text, double seconds) {
  const bool prefix = !text.empty() && text.back() == '*';
  if (prefix) text.pop_back();
  HWND status = Control(VN_ID_E_START);
  if (!WaitFor(seconds, [&] {
        const std::string seen = TextOf(status);
        return prefix ? seen.rfind(text, 0) == 0 : seen == text;
      })) {
    Fail("the status line did not show \"" + text + "\" within " + std::to_string(seconds) +
         " s; it shows \"" + TextOf(status) + "\"");
  }
  std::printf("the status line shows \"%s\"\n", TextOf(status).c_str());
}

void WaitIdle(double seconds) {
  HWND start = Control(VN_ID_SB_STA);
  if (!WaitFor(seconds, [&] { return IsWindowEnabled(start) != FALSE; })) {
    Fail("Start stayed disabled; the status line shows \"" + TextOf(Control(VN_ID_E_START)) + "\"");
  }
}

// The context menu's "About...", and the About window with its change list.
void About(double seconds) {
  HWND main = RequireMain();
  RECT rect = RectOf(main);
  PostMessageW(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(main),
               MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
  HWND menu = nullptr;
  if (!WaitFor(seconds,
               [&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); })) {
    Fail("no context menu within " + std::to_string(seconds) + " s; windows:" + TopLevelTitles());
  }
  // Another process cannot read the menu's entries under Wine: choosing the first one from the
  // keyboard must open the About window.
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  HWND about = nullptr;
  if (!WaitFor(seconds, [&] {
        return (about = FindTopLevel(L"TFormAbout", Wide(vn::kAboutTitle))) != nullptr;
      })) {
    Fail("no About window within " + std::to_string(seconds) + " s; windows:" + TopLevelTitles());
  }
  const std::vector<std::string> lines = ListEntries(GetDlgItem(about, VN_ID_ABOUT_LIST), false);
  if (lines != vn::ModificationLines()) Fail("the change list holds:" + Joined(lines));
  if (IsWindowEnabled(main)) Fail("the main window takes input while About is open");
  std::printf("About window open with %zu lines; the main window waits\n", lines.size());
}

void AboutClose(double seconds) {
  HWND about = FindTopLevel(L"TFormAbout", Wide(vn::kAboutTitle));
  if (!about) Fail("no About window to close");
  PostMessageW(GetDlgItem(about, VN_ID_ABOUT_OK), BM_CLICK, 0, 0);
  if (!WaitFor(seconds, [&] { return !IsWindow(about) && IsWindowEnabled(RequireMain()); })) {
    Fail("OK did not close the About window and give the main window back");
  }
  std::printf("About closed by OK\n");
}

int CountMainWindows() {
  int count = 0;
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        wchar_t name[256] = {};
        GetClassNameW(window, name, 256);
        if (Wide(vn::kApplicationTitle) == name) ++*reinterpret_cast<int*>(context);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&count));
  return count;
}

// A second copy, started while the first is minimised: it ends at once, showing nothing, and the
// first comes back.
void SecondStart(const std::string& program, double seconds) {
  HWND main = RequireMain();
  ShowWindowAsync(main, SW_MINIMIZE);
  if (!WaitFor(seconds, [&] { return IsIconic(main) != FALSE; }))
    Fail("the window did not minimise");
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + Wide(program) + L"\"";
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Fail("cannot start " + program);
  }
  const DWORD waited = WaitForSingleObject(process.hProcess, static_cast<DWORD>(seconds * 1000));
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (waited != WAIT_OBJECT_0)
    Fail("the second copy did not end within " + std::to_string(seconds) + " s");
  if (exitCode != 0) Fail("the second copy ended with " + std::to_string(exitCode));
  if (!WaitFor(seconds, [&] { return !IsIconic(main) && IsWindowVisible(main); })) {
    Fail("the first window was not restored");
  }
  if (CountMainWindows() != 1) Fail(std::to_string(CountMainWindows()) + " main windows");
  std::printf("the second copy handed over and ended; the first window came back\n");
}

void Close(double seconds) {
  HWND main = RequireMain();
  DWORD id = 0;
  GetWindowThreadProcessId(main, &id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  Click(VN_ID_SB_CLOSE1);
  if (process) {
    const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000));
    CloseHandle(process);
    if (waited != WAIT_OBJECT_0)
      Fail("the program did not end within " + std::to_string(seconds) + " s");
  }
  if (!WaitFor(seconds, [] { return MainWindow() == nullptr; })) Fail("the window stayed");
  std::printf("Close ended the program\n");
}

void Geometry(const std::string& which) {
  HWND window =
      which == "about" ? FindTopLevel(L"TFormAbout", Wide(vn::kAboutTitle)) : RequireMain();
  if (!window) Fail("no window " + which);
  const RECT rect = RectOf(window);
  std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
              rect.top);
}

double Seconds(const std::string& text) {
  return std::atof(text.c_str());
}

// The arguments in UTF-8, whatever the system's code page: file names may be any Unicode.
std::vector<std::string> Arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  const std::vector<std::string> args = Arguments();
  auto need = [&](size_t count) {
    if (args.size() < count + 1) Fail("too few arguments for " + args[0]);
  };
  if (args.empty()) Fail("no step given");
  const std::string& step = args[0];
  if (step == "check-layout") {
    need(1);
    CheckLayout(Seconds(args[1]));
  } else if (step == "choose-port" || step == "choose-operation") {
    need(1);
    ChooseEntry(step == "choose-port" ? VN_ID_CB_COM : VN_ID_CB_UPG, args[1]);
  } else if (step == "choose-file") {
    need(3);
    ChooseFile(args[1], args[2], Seconds(args[3]));
  } else if (step == "click") {
    need(1);
    Click(ButtonId(args[1]));
  } else if (step == "watch-status") {
    need(2);
    auto first = args.begin() + 2;
    // Pressed here rather than by a step before: the first texts come faster than a new process.
    if (*first == "--press") {
      need(4);
      Click(ButtonId(first[1]));
      first += 2;
    }
    const auto then = std::find(first, args.end(), "--");
    WatchStatus(Seconds(args[1]), std::vector<std::string>(first, then));
    if (then != args.end()) {
      if (args.end() - then != 3 || then[1] != "choose-operation") {
        Fail("after --: choose-operation TEXT");
      }
      ChooseEntry(VN_ID_CB_UPG, then[2]);
    }
  } else if (step == "wait-status") {
    need(2);
    WaitStatus(args[1], Seconds(args[2]));
  } else if (step == "wait-idle") {
    need(1);
    WaitIdle(Seconds(args[1]));
  } else if (step == "about") {
    need(1);
    About(Seconds(args[1]));
  } else if (step == "about-close") {
    need(1);
    AboutClose(Seconds(args[1]));
  } else if (step == "second-start") {
    need(2);
    SecondStart(args[1], Seconds(args[2]));
  } else if (step == "close") {
    need(1);
    Close(Seconds(args[1]));
  } else if (step == "geometry") {
    need(1);
    Geometry(args[1]);
  } else {
    Fail("unknown step " + step);
  }
  return 0;
}

// Drives vespanode.exe under Wine as a user would, one step per call, for scripts/test-windows:
// it finds the window by its class, the controls by their numbers, chooses with the lists,
// presses buttons, answers the file dialogs and reads what the window shows. Each step has a time
// limit; a step that fails says what it saw and exits 1. The steps are listed in main.
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
#include "platform/wide_text_win32.h"

namespace {

using Clock = std::chrono::steady_clock;

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
  return vn::Utf8FromWide(std::wstring(buffer, length));
}

HWND MainWindow() {
  return FindWindowW(vn::WideFromUtf8(vn::kApplicationTitle).c_str(), nullptr);
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

// The entries of a combo box or a list box.
std::vector<std::string> ListEntries(HWND list, bool combo) {
  std::vector<std::string> entries;
  const LRESULT count = SendMessageW(list, combo ? CB_GETCOUNT : LB_GETCOUNT, 0, 0);
  for (WPARAM index = 0; static_cast<LRESULT>(index) < count; ++index) {
    const LRESULT length = SendMessageW(list, combo ? CB_GETLBTEXTLEN : LB_GETTEXTLEN, index, 0);
    std::wstring text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, L'\0');
    SendMessageW(list, combo ? CB_GETLBTEXT : LB_GETTEXT, index,
                 reinterpret_cast<LPARAM>(text.data()));
    entries.push_back(vn::Utf8FromWide(text.c_str()));
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

std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

std::vector<HWND> TopLevels() {
  std::vector<HWND> windows;
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        reinterpret_cast<std::vector<HWND>*>(context)->push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&windows));
  return windows;
}

// A visible top-level window of the program's process with this class (and title, when given).
HWND FindTopLevel(const std::wstring& windowClass, const std::string& title = "") {
  DWORD program = 0;
  GetWindowThreadProcessId(RequireMain(), &program);
  for (HWND window : TopLevels()) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == program && IsWindowVisible(window) && ClassOf(window) == windowClass &&
        (title.empty() || TextOf(window) == title)) {
      return window;
    }
  }
  return nullptr;
}

// Fails with `failure` and the windows on the screen unless `done` holds within `seconds`.
void Await(double seconds, const std::string& failure, const std::function<bool()>& done) {
  if (WaitFor(seconds, done)) return;
  std::string windows;
  for (HWND window : TopLevels()) {
    if (IsWindowVisible(window))
      windows += "\n    " + vn::Utf8FromWide(ClassOf(window)) + " \"" + TextOf(window) + "\"";
  }
  Fail(failure + " within " + std::to_string(seconds) + " s; windows:" + windows);
}

// The window's texts and the order of its controls from top to bottom.
void CheckLayout(double seconds) {
  HWND main = nullptr;
  Await(seconds, "the window did not appear with its port list", [&] {
    main = MainWindow();
    return main && IsWindowVisible(main) &&
           SendMessageW(GetDlgItem(main, VN_ID_CB_COM), CB_GETCOUNT, 0, 0) >= 10;
  });
  std::vector<std::string> problems;
  const struct {
    const char* what;
    int id;  // 0: the window's caption
    std::string text;
  } rows[] = {{"caption", 0, vn::kWindowCaption},
              {"COM label", VN_ID_LABEL_COM, vn::kComCaption},
              {"rate label", VN_ID_LABEL_BAU, vn::kRateCaption},
              {"E_Bau", VN_ID_E_BAU, vn::kRateText},
              {"operation label", VN_ID_LABEL_UPG, vn::kOperationCaption},
              {"SB_Open", VN_ID_SB_OPEN, vn::kOpenCaption},
              {"SB_Sta", VN_ID_SB_STA, vn::kStartCaption},
              {"SB_Reset", VN_ID_SB_RESET, vn::kResetCaption},
              {"SB_Close1", VN_ID_SB_CLOSE1, vn::kCloseCaption},
              {"E_FileName", VN_ID_E_FILENAME, ""},
              {"E_Start", VN_ID_E_START, ""},
              {"chosen port", VN_ID_CB_COM, "COM.01"},
              {"chosen operation", VN_ID_CB_UPG, "Download"}};
  for (const auto& row : rows) {
    const std::string seen = TextOf(row.id ? GetDlgItem(main, row.id) : main);
    if (seen != row.text)
      problems.push_back(std::string(row.what) + ": \"" + seen + "\", expected \"" + row.text +
                         "\"");
  }
  const std::vector<std::string> ports = ListEntries(GetDlgItem(main, VN_ID_CB_COM), true);
  const std::vector<std::string> fixed{"COM.01", "COM.02", "COM.03", "COM.04", "COM.05",
                                       "COM.06", "COM.07", "COM.08", "COM.09", "COM.10"};
  if (ports.size() < fixed.size() || !std::equal(fixed.begin(), fixed.end(), ports.begin()))
    problems.push_back("port entries:" + Joined(ports));
  const std::vector<std::string> operations = ListEntries(GetDlgItem(main, VN_ID_CB_UPG), true);
  if (operations != vn::OperationNames()) problems.push_back("operations:" + Joined(operations));
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
  if (style & (WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
    problems.push_back("the window has title-bar buttons or a sizing border");
  if (!problems.empty()) Fail("the window's layout:" + Joined(problems));
}

void ChooseEntry(int id, const std::string& text) {
  HWND list = Control(id);
  const std::vector<std::string> entries = ListEntries(list, true);
  const auto entry = std::find(entries.begin(), entries.end(), text);
  if (entry == entries.end())
    Fail("no entry \"" + text + "\" in the list; it holds:" + Joined(entries));
  SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(entry - entries.begin()), 0);
  SendMessageW(RequireMain(), WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE),
               reinterpret_cast<LPARAM>(list));
}

int ButtonId(const std::string& name) {
  const std::string names[] = {"open", "start", "reset", "close"};
  const int ids[] = {VN_ID_SB_OPEN, VN_ID_SB_STA, VN_ID_SB_RESET, VN_ID_SB_CLOSE1};
  for (size_t i = 0; i < std::size(ids); ++i) {
    if (name == names[i]) return ids[i];
  }
  Fail("no button " + name);
}

// Pressed as a click is: the window may open a modal dialog before it answers.
void Click(int id) {
  HWND button = Control(id);
  if (!IsWindowEnabled(button)) Fail("button " + TextOf(button) + " is disabled");
  PostMessageW(button, BM_CLICK, 0, 0);
}

void ChooseFile(const std::string& title, const std::string& path, double seconds) {
  Click(VN_ID_SB_OPEN);
  HWND dialog = nullptr;
  Await(seconds, "no dialog \"" + title + "\"",
        [&] { return (dialog = FindTopLevel(L"#32770", title)) != nullptr; });
  // The file name box: a combo box in the explorer style, an edit box in the old one.
  HWND name = GetDlgItem(dialog, 0x47C);
  if (!name) name = GetDlgItem(dialog, 0x480);
  if (!name) Fail("the dialog has no file name box");
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(vn::WideFromUtf8(path).c_str()));
  PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
  HWND fileName = Control(VN_ID_E_FILENAME);
  if (!WaitFor(seconds, [&] { return !IsWindow(dialog) && TextOf(fileName) == path; })) {
    Fail("after the dialog, the file name field shows \"" + TextOf(fileName) + "\", expected \"" +
         path + "\"; the dialog " + (IsWindow(dialog) ? "is still open" : "closed"));
  }
}

// "!" first: must be seen; "*" last: a prefix.
struct Pattern {
  std::string text;
  bool required = false;
  bool prefix = false;
  explicit Pattern(std::string argument) {
    required = argument.starts_with('!');
    prefix = argument.ends_with('*');
    text = argument.substr(required ? 1 : 0, argument.size() - required - prefix);
  }
  bool Matches(const std::string& seen) const {
    return prefix ? seen.starts_with(text) : seen == text;
  }
};

// The status texts in the order they show: every text seen must match the pattern reached so far
// or a later one, skipping none that is required; done when the last pattern is seen. Texts that
// stand only for a moment may be missed by sampling, so only the required ones must be seen.
// The button is pressed here rather than by a step before: the first texts come faster than a
// new process; the choice after "--" is made the moment the last pattern shows.
void WatchStatus(const std::vector<std::string>& args) {
  auto first = args.begin() + 2;
  if (*first == "--press") {
    if (args.size() < 5) Fail("too few arguments for watch-status --press");
    Click(ButtonId(first[1]));
    first += 2;
  }
  const auto then = std::find(first, args.end(), "--");
  if (then != args.end() && (args.end() - then != 3 || then[1] != "choose-operation"))
    Fail("after --: choose-operation TEXT");
  const std::vector<Pattern> patterns(first, then);
  const double seconds = std::atof(args[1].c_str());
  HWND status = Control(VN_ID_E_START);
  std::string seen;
  size_t lines = 0;
  size_t at = 0;  // the pattern last matched, or 0 before any
  bool started = false;
  std::string last = "\x01";
  const auto begin = Clock::now();
  const bool done = WaitFor(seconds, [&] {
    const std::string text = TextOf(status);
    if (text == last) return false;
    last = text;
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "\n    %7.3f s  ",
                  std::chrono::duration<double>(Clock::now() - begin).count());
    seen += stamp + (text.empty() ? std::string("(empty)") : "\"" + text + "\"");
    ++lines;
    for (size_t next = started ? at : 0; next < patterns.size(); ++next) {
      if (patterns[next].Matches(text)) {
        at = next;
        started = true;
        return at + 1 == patterns.size();
      }
      if (patterns[next].required && (!started || next > at)) break;
    }
    // What the line showed before the watched run, or its clearing; anything else (a refusal)
    // ends the watch at once.
    if (!started && (lines == 1 || text.empty())) return false;
    Fail("status text out of order:" + seen);
  });
  if (!done)
    Fail("the status texts did not end as expected within " + std::to_string(seconds) +
         " s; seen:" + seen);
  std::printf("status texts in order:%s\n", seen.c_str());
  if (then != args.end()) ChooseEntry(VN_ID_CB_UPG, then[2]);
}

void WaitStatus(const std::string& text, double seconds) {
  const Pattern pattern(text);
  HWND status = Control(VN_ID_E_START);
  if (!WaitFor(seconds, [&] { return pattern.Matches(TextOf(status)); }))
    Fail("the status line did not show \"" + text + "\"; it shows \"" + TextOf(status) + "\"");
}

void WaitIdle(double seconds) {
  if (!WaitFor(seconds, [] { return IsWindowEnabled(Control(VN_ID_SB_STA)) != FALSE; }))
    Fail("Start stayed disabled; the status line shows \"" + TextOf(Control(VN_ID_E_START)) + "\"");
}

HWND AboutWindow() {
  return FindTopLevel(L"TFormAbout", vn::kAboutTitle);
}

// The context menu's "About...", and the About window with its change list.
void About(double seconds) {
  HWND main = RequireMain();
  RECT rect = RectOf(main);
  PostMessageW(main, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(main),
               MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2));
  HWND menu = nullptr;
  Await(seconds, "no context menu",
        [&] { return (menu = FindWindowW(L"#32768", nullptr)) && IsWindowVisible(menu); });
  // Another process cannot read the menu's entries under Wine: choosing the first one from the
  // keyboard must open the About window.
  PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
  PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
  HWND about = nullptr;
  Await(seconds, "no About window", [&] { return (about = AboutWindow()) != nullptr; });
  const std::vector<std::string> lines = ListEntries(GetDlgItem(about, VN_ID_ABOUT_LIST), false);
  if (lines != vn::ModificationLines()) Fail("the change list holds:" + Joined(lines));
  if (IsWindowEnabled(main)) Fail("the main window takes input while About is open");
}

void AboutClose(double seconds) {
  HWND about = AboutWindow();
  if (!about) Fail("no About window to close");
  PostMessageW(GetDlgItem(about, VN_ID_ABOUT_OK), BM_CLICK, 0, 0);
  Await(seconds, "OK did not close the About window and give the main window back",
        [&] { return !IsWindow(about) && IsWindowEnabled(RequireMain()); });
}

// Waits for the process to end and closes its handle; its exit code.
DWORD AwaitEnd(HANDLE process, double seconds, const std::string& what) {
  const DWORD waited = WaitForSingleObject(process, static_cast<DWORD>(seconds * 1000));
  DWORD exitCode = 0;
  GetExitCodeProcess(process, &exitCode);
  CloseHandle(process);
  if (waited != WAIT_OBJECT_0) Fail(what + " did not end within " + std::to_string(seconds) + " s");
  return exitCode;
}

// A second copy, started while the first is minimised: it ends at once, showing nothing, and the
// first comes back.
void SecondStart(const std::string& program, double seconds) {
  HWND main = RequireMain();
  ShowWindowAsync(main, SW_MINIMIZE);
  Await(seconds, "the window did not minimise", [&] { return IsIconic(main) != FALSE; });
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::wstring command = L"\"" + vn::WideFromUtf8(program) + L"\"";
  if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    Fail("cannot start " + program);
  }
  CloseHandle(process.hThread);
  const DWORD exitCode = AwaitEnd(process.hProcess, seconds, "the second copy");
  if (exitCode != 0) Fail("the second copy ended with " + std::to_string(exitCode));
  Await(seconds, "the first window was not restored",
        [&] { return !IsIconic(main) && IsWindowVisible(main); });
  const auto mains = std::ranges::count_if(TopLevels(), [](HWND window) {
    return ClassOf(window) == vn::WideFromUtf8(vn::kApplicationTitle);
  });
  if (mains != 1) Fail(std::to_string(mains) + " main windows");
}

void Close(double seconds) {
  DWORD id = 0;
  GetWindowThreadProcessId(RequireMain(), &id);
  HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  Click(VN_ID_SB_CLOSE1);
  if (process) AwaitEnd(process, seconds, "the program");
  Await(seconds, "the window stayed", [] { return MainWindow() == nullptr; });
}

}  // namespace

int main() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  // The arguments in UTF-8, whatever the system's code page: file names may be any Unicode.
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide && i < count; ++i) args.push_back(vn::Utf8FromWide(wide[i]));
  LocalFree(wide);
  if (args.empty()) Fail("no step given");
  auto seconds = [&](size_t at) { return std::atof(args[at].c_str()); };
  const struct {
    const char* usage;  // the step and its arguments
    size_t arguments;   // at least
    std::function<void()> run;
  } steps[] = {
      {"check-layout SECONDS", 1, [&] { CheckLayout(seconds(1)); }},
      {"choose-port TEXT", 1, [&] { ChooseEntry(VN_ID_CB_COM, args[1]); }},
      {"choose-operation TEXT", 1, [&] { ChooseEntry(VN_ID_CB_UPG, args[1]); }},
      {"choose-file DIALOG-TITLE PATH SECONDS", 3,
       [&] { ChooseFile(args[1], args[2], seconds(3)); }},
      {"click open|start|reset|close", 1, [&] { Click(ButtonId(args[1])); }},
      {"watch-status SECONDS [--press BUTTON] PATTERN... [-- choose-operation TEXT]", 2,
       [&] { WatchStatus(args); }},
      {"wait-status PATTERN SECONDS", 2, [&] { WaitStatus(args[1], seconds(2)); }},
      {"wait-idle SECONDS", 1, [&] { WaitIdle(seconds(1)); }},
      {"about SECONDS", 1, [&] { About(seconds(1)); }},
      {"about-close SECONDS", 1, [&] { AboutClose(seconds(1)); }},
      {"second-start EXE SECONDS", 2, [&] { SecondStart(args[1], seconds(2)); }},
      {"close SECONDS", 1, [&] { Close(seconds(1)); }},
      // WxH+X+Y, for cropping a screenshot.
      {"geometry main|about", 1,
       [&] {
         HWND window = args[1] == "about" ? AboutWindow() : RequireMain();
         if (!window) Fail("no window " + args[1]);
         const RECT rect = RectOf(window);
         std::printf("%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left,
                     rect.top);
       }},
  };
  for (const auto& step : steps) {
    const std::string usage = step.usage;
    if (usage.substr(0, usage.find(' ')) != args[0]) continue;
    if (args.size() < step.arguments + 1) Fail("usage: window_driver " + usage);
    step.run();
    if (args[0] != "geometry") std::printf("%s: done\n", args[0].c_str());
    return 0;
  }
  Fail("unknown step " + args[0]);
}

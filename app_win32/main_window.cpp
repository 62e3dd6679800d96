#include "app_win32/main_window.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app_win32/about_window.h"
#include "app_win32/button_pictures.h"
#include "app_win32/control_ids.h"
#include "app_win32/window_look.h"
#include "form/form_texts.h"
#include "form/program_identity.h"
#include "link/status_texts.h"
#include "link/system_port.h"
#include "platform/program_dir.h"
#include "platform/wide_text_win32.h"

namespace vn {
namespace {

constexpr int kClientWidth = 447;
// The outer height is 330 with a title bar of about 30 pixels; the controls end at 300.
constexpr int kClientHeight = 300;
constexpr int kMainPanelTop = 100;
constexpr int kButtonBarTop = 270;
constexpr UINT kTaskMessage = WM_APP + 1;  // tasks posted by the worker wait in tasks_
constexpr UINT kBoxMessage = WM_APP + 2;   // lParam: a BoxRequest to show and delete
constexpr int kPathCapacity = 32768;       // the longest path the wide calls take

struct BoxRequest {
  std::wstring text;
  std::wstring caption;
  UINT icon;
};

COLORREF ToColorRef(Rgb colour) {
  return RGB(colour.red, colour.green, colour.blue);
}

// A place inside the main panel or the button bar, in the window's scaled pixels.
RECT InMainPanel(int left, int top, int width, int height) {
  return ScaledRect(left, kMainPanelTop + top, width, height);
}
RECT InButtonBar(int left, int top, int width, int height) {
  return ScaledRect(left, kButtonBarTop + top, width, height);
}

HWND MakeLabel(HWND window, const char* text, int left, int top, int id) {
  HFONT font = ArialFont(14, true);
  const std::wstring wide = WideFromUtf8(text);
  HDC dc = GetDC(window);
  HGDIOBJ previous = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &size);
  SelectObject(dc, previous);
  ReleaseDC(window, dc);
  const RECT place = InMainPanel(left, top, 0, 0);
  return MakeControl(window, L"STATIC", wide.c_str(), SS_LEFT | SS_NOPREFIX, 0,
                     {place.left, place.top, place.left + size.cx + 2, place.top + size.cy}, id,
                     font);
}

HWND MakeField(HWND window, RECT place, int id) {
  return MakeControl(window, L"EDIT", L"", ES_READONLY | ES_AUTOHSCROLL, WS_EX_CLIENTEDGE, place,
                     id, ArialFont(14, false));
}

HWND MakeButton(HWND window, const char* caption, ButtonPicture picture, RECT place, int id) {
  HWND button = MakeControl(window, L"BUTTON", WideFromUtf8(caption).c_str(),
                            BS_PUSHBUTTON | WS_TABSTOP, 0, place, id, ArialFont(14, true));
  SendMessageW(button, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(ButtonIcon(picture)));
  return button;
}

void SetText(HWND control, const std::string& text) {
  SetWindowTextW(control, WideFromUtf8(text).c_str());
}

// The filter list of a file dialog: name and pattern of each, each ending in a zero, and one
// more zero at the end.
std::wstring FilterList(std::initializer_list<FileFilter> filters) {
  std::wstring list;
  for (const FileFilter& filter : filters) {
    list += WideFromUtf8(filter.name) + L'\0' + WideFromUtf8(filter.pattern) + L'\0';
  }
  return list + L'\0';
}

std::optional<std::string> FileDialog(HWND owner, bool save, const char* title,
                                      const std::wstring& filters) {
  std::vector<wchar_t> path(kPathCapacity, L'\0');
  const std::wstring wideTitle = WideFromUtf8(title);
  const std::wstring extension = WideFromUtf8(kDefaultExtension);
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = owner;
  dialog.lpstrFilter = filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = kPathCapacity;
  dialog.lpstrTitle = wideTitle.c_str();
  dialog.lpstrDefExt = extension.c_str();
  // The save dialog does not ask before covering a file: Start does.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST |
                 (save ? 0 : OFN_FILEMUSTEXIST);
  const BOOL chosen = save ? GetSaveFileNameW(&dialog) : GetOpenFileNameW(&dialog);
  if (!chosen) return std::nullopt;
  return Utf8FromWide(path.data());
}

// An entry chosen in a list, the one already chosen included (choosing a port again opens it
// again): the list closed on a choice, or moved by the keys while closed.
bool Chosen(HWND list, int notification) {
  if (notification == CBN_SELENDOK) return true;
  return notification == CBN_SELCHANGE && !SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0);
}

}  // namespace

MainWindow::MainWindow() : banner_(VN_RESOURCE_MAIN_BANNER) {
  const std::wstring className = WideFromUtf8(kApplicationTitle);
  RegisterPanelClass(className.c_str(), Procedure);
  // A single fixed border and a caption without title-bar buttons.
  window_ = CreateWindowExW(0, className.c_str(), WideFromUtf8(kWindowCaption).c_str(),
                            WS_POPUP | WS_CAPTION | WS_BORDER | WS_CLIPCHILDREN, 0, 0, 0, 0,
                            nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (!window_) return;
  PlaceCentred(window_, kClientWidth, kClientHeight);
  BuildControls();
  model_ = std::make_unique<FormModel>(*this, MakeSystemComPort(), ProgramDir());
  Show(model_->State());
}

MainWindow::~MainWindow() {
  model_.reset();  // stops a run, whose last reports then find no window
  if (window_ && IsWindow(window_)) DestroyWindow(window_);
}

void MainWindow::BuildControls() {
  comLabel_ = MakeLabel(window_, kComCaption, 16, 14, VN_ID_LABEL_COM);
  CB_Com = MakeControl(window_, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0,
                       InMainPanel(90, 10, 150, 24 + 10 * 18), VN_ID_CB_COM, ArialFont(14, false));
  SendMessageW(CB_Com, CB_SETMINVISIBLE, kFixedPortCount, 0);
  MakeLabel(window_, kRateCaption, 250, 14, VN_ID_LABEL_BAU);
  HWND rate = MakeField(window_, InMainPanel(340, 10, 100, 22), VN_ID_E_BAU);
  SetText(rate, kRateText);

  upgLabel_ = MakeLabel(window_, kOperationCaption, 16, 48, VN_ID_LABEL_UPG);
  CB_Upg = MakeControl(window_, L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0,
                       InMainPanel(90, 44, 151, 24 + 8 * 18), VN_ID_CB_UPG, ArialFont(14, false));
  for (const std::string& name : OperationNames()) {
    SendMessageW(CB_Upg, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromUtf8(name).c_str()));
  }

  SB_Open = MakeButton(window_, kOpenCaption, ButtonPicture::kOpen, InMainPanel(12, 78, 70, 23),
                       VN_ID_SB_OPEN);
  E_FileName = MakeField(window_, InMainPanel(90, 79, 342, 22), VN_ID_E_FILENAME);
  SB_Sta = MakeButton(window_, kStartCaption, ButtonPicture::kStart, InMainPanel(12, 112, 70, 23),
                      VN_ID_SB_STA);
  E_Start = MakeField(window_, InMainPanel(90, 113, 342, 22), VN_ID_E_START);
  ProgressBarMain = MakeControl(window_, PROGRESS_CLASSW, L"", PBS_SMOOTH, 0,
                                InMainPanel(12, 147, 420, 12), VN_ID_PROGRESS, nullptr);

  MakeButton(window_, kResetCaption, ButtonPicture::kReset, InButtonBar(285, 4, 70, 22),
             VN_ID_SB_RESET);
  MakeButton(window_, kCloseCaption, ButtonPicture::kClose, InButtonBar(362, 4, 70, 22),
             VN_ID_SB_CLOSE1);

  // The status line's whole text and the run's details, and why the lamp is red.
  toolTips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX,
                              CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  SendMessageW(toolTips_, TTM_SETMAXTIPWIDTH, 0, Scaled(420));
  TTTOOLINFOW statusTool{};
  statusTool.cbSize = sizeof statusTool;
  statusTool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  statusTool.hwnd = window_;
  statusTool.uId = reinterpret_cast<UINT_PTR>(E_Start);
  statusTool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(toolTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&statusTool));
  TTTOOLINFOW lampTool{};
  lampTool.cbSize = sizeof lampTool;
  lampTool.uFlags = TTF_SUBCLASS;
  lampTool.hwnd = window_;
  lampTool.uId = 1;
  lampTool.rect = LampRect();
  lampTool.lpszText = const_cast<wchar_t*>(L"");
  SendMessageW(toolTips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&lampTool));
}

RECT MainWindow::LampRect() const {
  // Right of the caption, as in the other view, so that the two never overlap.
  return InMainPanel(66, 16, 11, 11);
}

void MainWindow::SetToolTip(HWND tool, const std::string& text) {
  const std::wstring wide = WideFromUtf8(text);
  TTTOOLINFOW info{};
  info.cbSize = sizeof info;
  info.hwnd = window_;
  info.uId = tool ? reinterpret_cast<UINT_PTR>(tool) : 1;
  info.lpszText = const_cast<wchar_t*>(wide.c_str());
  SendMessageW(toolTips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&info));
}

void MainWindow::Show(const FormState& state) {
  const FormState* before = shown_ ? &*shown_ : nullptr;
  auto changed = [before, &state](auto member) {
    return before == nullptr || !(before->*member == state.*member);
  };
  if (changed(&FormState::ports)) {
    SendMessageW(CB_Com, CB_RESETCONTENT, 0, 0);
    for (const PortEntry& entry : state.ports) {
      SendMessageW(CB_Com, CB_ADDSTRING, 0,
                   reinterpret_cast<LPARAM>(WideFromUtf8(entry.text).c_str()));
    }
  }
  if (changed(&FormState::ports) || changed(&FormState::portIndex)) {
    SendMessageW(CB_Com, CB_SETCURSEL, static_cast<WPARAM>(state.portIndex), 0);
  }
  if (changed(&FormState::operationIndex)) {
    SendMessageW(CB_Upg, CB_SETCURSEL, static_cast<WPARAM>(state.operationIndex), 0);
  }
  if (changed(&FormState::choicesEnabled)) {
    for (HWND control : {comLabel_, upgLabel_, CB_Com, CB_Upg, SB_Open, SB_Sta}) {
      EnableWindow(control, state.choicesEnabled);
    }
  }
  if (changed(&FormState::openCaption)) SetText(SB_Open, state.openCaption);
  if (changed(&FormState::openSaves)) {
    const ButtonPicture picture = state.openSaves ? ButtonPicture::kSave : ButtonPicture::kOpen;
    SendMessageW(SB_Open, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(ButtonIcon(picture)));
  }
  if (changed(&FormState::fileName)) SetText(E_FileName, state.fileName);
  if (changed(&FormState::status)) SetText(E_Start, state.status);
  if (changed(&FormState::tone)) InvalidateRect(E_Start, nullptr, TRUE);
  if (changed(&FormState::statusToolTip)) SetToolTip(E_Start, state.statusToolTip);
  if (changed(&FormState::lampToolTip)) SetToolTip(nullptr, state.lampToolTip);
  if (changed(&FormState::progressMaximum)) {
    SendMessageW(ProgressBarMain, PBM_SETRANGE32, 0, std::max(state.progressMaximum, 1));
  }
  if (changed(&FormState::progress) || changed(&FormState::progressMaximum)) {
    SendMessageW(ProgressBarMain, PBM_SETPOS, static_cast<WPARAM>(state.progress), 0);
  }
  const bool lampChanged = changed(&FormState::portOpen);
  shown_ = state;
  if (lampChanged) {
    const RECT lamp = LampRect();
    InvalidateRect(window_, &lamp, TRUE);
  }
}

std::optional<std::string> MainWindow::ChooseDownloadFile() {
  return FileDialog(window_, false, kOpenDialogTitle, FilterList({kUpgradeFileFilter}));
}

std::optional<std::string> MainWindow::ChooseUploadFile() {
  return FileDialog(window_, true, kSaveDialogTitle,
                    FilterList({kUpgradeFileFilter, kAllFilesFilter}));
}

bool MainWindow::ConfirmOverwrite() {
  // Yes and Cancel, as the question is put; a plain message box has no such pair.
  int button = IDCANCEL;
  const HRESULT shown =
      TaskDialog(window_, nullptr, WideFromUtf8(kConfirmCaption).c_str(), nullptr,
                 WideFromUtf8(kOverwriteQuestion).c_str(), TDCBF_YES_BUTTON | TDCBF_CANCEL_BUTTON,
                 TD_WARNING_ICON, &button);
  if (FAILED(shown)) {
    button = MessageBoxW(window_, WideFromUtf8(kOverwriteQuestion).c_str(),
                         WideFromUtf8(kConfirmCaption).c_str(),
                         MB_OKCANCEL | MB_ICONQUESTION | MB_DEFBUTTON2) == IDOK
                 ? IDYES
                 : IDCANCEL;
  }
  return button == IDYES;
}

void MainWindow::PostBox(const std::string& text, const char* caption, UINT icon) {
  auto* request = new BoxRequest{WideFromUtf8(text), WideFromUtf8(caption), icon};
  if (!PostMessageW(window_, kBoxMessage, 0, reinterpret_cast<LPARAM>(request))) delete request;
}

void MainWindow::ShowErrorBox(const std::string& text) {
  PostBox(text, kErrorCaption, MB_ICONERROR);
}

void MainWindow::ShowNotice(const std::string& text) {
  PostBox(text, kNoticeCaption, MB_ICONINFORMATION);
}

void MainWindow::EndProcess() {
  DestroyWindow(window_);
}

void MainWindow::PostToUiThread(std::function<void()> task) {
  {
    const std::lock_guard lock(tasksMutex_);
    tasks_.push_back(std::move(task));
  }
  PostMessageW(window_, kTaskMessage, 0, 0);
}

void MainWindow::RunPostedTasks() {
  for (;;) {
    std::function<void()> task;
    {
      const std::lock_guard lock(tasksMutex_);
      if (tasks_.empty()) return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

int MainWindow::Run() {
  if (!window_) return 1;
  ShowWindow(window_, SW_SHOWNORMAL);
  UpdateWindow(window_);
  MSG message;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    if (!IsDialogMessageW(window_, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return got == 0 ? static_cast<int>(message.wParam) : 1;
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self || !self->window_) return DefWindowProcW(window, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT MainWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (model_) Command(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CONTEXTMENU:
      ShowContextMenu(lParam);
      return 0;
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const HWND control = reinterpret_cast<HWND>(lParam);
      const int id = GetDlgCtrlID(control);
      if (id == VN_ID_E_START || id == VN_ID_E_FILENAME || id == VN_ID_E_BAU) {
        const StatusTone tone = shown_ ? shown_->tone : StatusTone::kNeutral;
        SetTextColor(dc, id == VN_ID_E_START ? ToColorRef(ColourOfTone(tone)) : kNavy);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      SetTextColor(dc, RGB(0, 0, 0));
      SetBkMode(dc, TRANSPARENT);
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_PAINT:
      Paint();
      return 0;
    case kTaskMessage:
      RunPostedTasks();
      return 0;
    case kBoxMessage: {
      std::unique_ptr<BoxRequest> request(reinterpret_cast<BoxRequest*>(lParam));
      MessageBoxW(window_, request->text.c_str(), request->caption.c_str(), MB_OK | request->icon);
      return 0;
    }
    case kHandOverMessage:
      BringToFront();
      return 0;
    case WM_CLOSE:
      // Closed by the system: stop and close; the process ends with the window.
      if (model_) model_->Shutdown();
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wParam, lParam);
}

void MainWindow::Command(int id, int notification) {
  switch (id) {
    case VN_ID_CB_COM:
      if (notification == CBN_DROPDOWN) model_->RefreshPorts();
      if (Chosen(CB_Com, notification)) {
        model_->ChoosePort(static_cast<int>(SendMessageW(CB_Com, CB_GETCURSEL, 0, 0)));
      }
      break;
    case VN_ID_CB_UPG:
      if (Chosen(CB_Upg, notification)) {
        model_->ChooseOperation(static_cast<int>(SendMessageW(CB_Upg, CB_GETCURSEL, 0, 0)));
      }
      break;
    case VN_ID_SB_OPEN:
      model_->Open();
      break;
    case VN_ID_SB_STA:
      model_->Start();
      break;
    case VN_ID_SB_RESET:
      model_->Reset();
      break;
    case VN_ID_SB_CLOSE1:
    case VN_ID_MENU_EXIT:
      model_->Close();
      break;
    case VN_ID_MENU_ABOUT:
      ShowAboutWindow(window_, {kAboutName, kAboutVersion, kAboutSystem, kAboutMemory,
                                AboutBuildLine(), ModificationLines()});
      break;
    default:
      break;
  }
}

void MainWindow::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  banner_.Draw(dc, ScaledRect(0, 0, kClientWidth, kMainPanelTop));
  RECT mainPanel = ScaledRect(0, kMainPanelTop, kClientWidth, kButtonBarTop - kMainPanelTop);
  DrawEdge(dc, &mainPanel, BDR_RAISEDINNER, BF_RECT);
  RECT buttonBar = ScaledRect(0, kButtonBarTop, kClientWidth, kClientHeight - kButtonBarTop);
  DrawEdge(dc, &buttonBar, BDR_RAISEDINNER, BF_RECT);

  const RECT lamp = LampRect();
  HBRUSH fill = CreateSolidBrush(ToColorRef(LampColour(shown_ && shown_->portOpen)));
  HPEN rim = CreatePen(PS_SOLID, 1, RGB(0x40, 0x40, 0x40));
  HGDIOBJ oldBrush = SelectObject(dc, fill);
  HGDIOBJ oldPen = SelectObject(dc, rim);
  Ellipse(dc, lamp.left, lamp.top, lamp.right, lamp.bottom);
  SelectObject(dc, oldBrush);
  SelectObject(dc, oldPen);
  DeleteObject(fill);
  DeleteObject(rim);
  EndPaint(window_, &paint);
}

void MainWindow::ShowContextMenu(LPARAM where) {
  POINT at{static_cast<short>(LOWORD(where)), static_cast<short>(HIWORD(where))};
  if (where == -1) {  // from the keyboard: at the window's top left corner
    at = {0, 0};
    ClientToScreen(window_, &at);
  }
  HMENU menu = CreatePopupMenu();
  AppendMenuW(menu, MF_STRING, VN_ID_MENU_ABOUT, WideFromUtf8(kAboutMenuEntry).c_str());
  AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu, MF_STRING, VN_ID_MENU_EXIT, WideFromUtf8(kExitMenuEntry).c_str());
  TrackPopupMenu(menu, TPM_RIGHTBUTTON, at.x, at.y, 0, window_, nullptr);
  DestroyMenu(menu);
}

void MainWindow::BringToFront() {
  if (IsIconic(window_)) {
    ShowWindow(window_, SW_RESTORE);
  } else {
    ShowWindow(window_, SW_SHOW);
    BringWindowToTop(window_);
  }
  SetForegroundWindow(window_);
}

}  // namespace vn

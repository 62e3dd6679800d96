#pragma once
// TFormMain on Win32: draws the form's state and passes the user's input to it. Every decision
// (what is enabled, what the status line says, what Start does) is the form model's.
#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "app_win32/banner_picture.h"
#include "form/form_model.h"
#include "form/form_view.h"

namespace vn {

class MainWindow : public FormView {
 public:
  // Registers the window class named after the application title, so that a second copy finds
  // this window, and builds the window with its controls (hidden until Show).
  MainWindow();
  ~MainWindow() override;
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;

  HWND Handle() const { return window_; }
  // Shows the window and runs the message loop until the window ends; the process's exit code.
  int Run();

  // FormView.
  void Show(const FormState& state) override;
  std::optional<std::string> ChooseDownloadFile() override;
  std::optional<std::string> ChooseUploadFile() override;
  bool ConfirmOverwrite() override;
  void ShowErrorBox(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void EndProcess() override;
  void PostToUiThread(std::function<void()> task) override;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void BuildControls();
  void Command(int id, int notification);
  void Paint();
  void ShowContextMenu(LPARAM where);
  void BringToFront();
  void RunPostedTasks();
  // A box that must not hold up its caller: shown once the caller has returned.
  void PostBox(const std::string& text, const char* caption, UINT icon);
  void SetToolTip(HWND tool, const std::string& text);
  RECT LampRect() const;

  HWND window_ = nullptr;
  HWND comLabel_ = nullptr;
  HWND upgLabel_ = nullptr;
  HWND CB_Com = nullptr;
  HWND CB_Upg = nullptr;
  HWND SB_Open = nullptr;
  HWND E_FileName = nullptr;
  HWND SB_Sta = nullptr;
  HWND E_Start = nullptr;
  HWND ProgressBarMain = nullptr;
  HWND toolTips_ = nullptr;
  BannerPicture banner_;
  std::optional<FormState> shown_;  // what the controls show now
  std::mutex tasksMutex_;
  std::deque<std::function<void()>> tasks_;
  std::unique_ptr<FormModel> model_;  // made once the controls are there to show it
};

}  // namespace vn

#pragma once
// The main window: the Qt view of the form. The form model decides what every control shows and
// does; this class builds the widgets, draws the model's state and answers its modal questions.
// What the running operation reports arrives on the station's worker thread and is queued to the
// window's thread.
#include <QWidget>
#include <memory>

#include "form/form_model.h"
#include "form/form_view.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QToolButton;

namespace vn {

class ComStateLamp;
class PortComboBox;

class TFormMain : public QWidget, protected FormView {
  Q_OBJECT
 public:
  TFormMain(std::unique_ptr<ComPort> port, QString programDir, QWidget* parent = nullptr);
  ~TFormMain() override;

  FormModel& Model() { return *model_; }
  // True while the worker runs an operation (waiting for a box included).
  bool OperationRunning() const { return model_->Running(); }

 public slots:
  void CB_ComSelect(int index);
  void CB_UpgSelect(int index);
  void SB_OpenClick();
  void SB_StaClick();
  void SB_ResetClick();
  void SB_Close1Click();
  void ShowAbout();
  // Another copy was started: restore if minimised, otherwise come to the front.
  void BringToFront();

 protected:
  // The form's view; the modal dialogs and the end of the process are replaced by tests.
  void Show(const FormState& state) override;
  std::optional<std::string> ChooseDownloadFile() override;
  std::optional<std::string> ChooseUploadFile() override;
  bool ConfirmOverwrite() override;
  void ShowErrorBox(const std::string& text) override;
  void ShowNotice(const std::string& text) override;
  void EndProcess() override;
  void PostToUiThread(std::function<void()> task) override;

  void contextMenuEvent(QContextMenuEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();

  QLabel* banner_ = nullptr;
  QFrame* mainPanel_ = nullptr;
  QFrame* buttonBar_ = nullptr;
  QLabel* comLabel_ = nullptr;
  QLabel* upgLabel_ = nullptr;
  ComStateLamp* Shape_ComState = nullptr;
  PortComboBox* CB_Com = nullptr;
  QLineEdit* E_Bau = nullptr;
  QComboBox* CB_Upg = nullptr;
  QToolButton* SB_Open = nullptr;
  QLineEdit* E_FileName = nullptr;
  QToolButton* SB_Sta = nullptr;
  QLineEdit* E_Start = nullptr;
  QProgressBar* ProgressBarMain = nullptr;
  QToolButton* SB_Reset = nullptr;
  QToolButton* SB_Close1 = nullptr;
  QMenu* contextMenu_ = nullptr;
  // Last: built once the widgets are, and gone before them.
  std::unique_ptr<FormModel> model_;
};

}  // namespace vn

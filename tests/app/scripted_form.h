#pragma once
// The main window with its dialogs answered by the test instead of a person.
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QToolButton>

#include "app/com_state_lamp.h"
#include "app/form_main.h"
#include "app/port_list.h"
#include "link/memory_port.h"

namespace vn::testing {

class ScriptedForm : public TFormMain {
 public:
  ScriptedForm(std::unique_ptr<ComPort> port, const QString& programDir)
      : TFormMain(std::move(port), programDir) {}

  QString downloadAnswer;  // the open dialog's file; empty = Cancel
  QString uploadAnswer;    // the save dialog's file; empty = Cancel
  bool overwriteAnswer = false;
  int overwriteQuestions = 0;
  QStringList errorBoxes;
  int processEnds = 0;

  template <typename T>
  T* Control(const char* name) const {
    return findChild<T*>(QLatin1String(name));
  }
  PortComboBox* Com() const { return Control<PortComboBox>("CB_Com"); }
  QComboBox* Upg() const { return Control<QComboBox>("CB_Upg"); }
  QToolButton* Button(const char* name) const { return Control<QToolButton>(name); }
  QLineEdit* Field(const char* name) const { return Control<QLineEdit>(name); }
  QString Status() const { return Field("E_Start")->text(); }
  QString FileName() const { return Field("E_FileName")->text(); }
  ComStateLamp* Lamp() const { return Control<ComStateLamp>("Shape_ComState"); }
  QProgressBar* Progress() const { return Control<QProgressBar>("ProgressBarMain"); }
  bool ChoiceControlsEnabled() const {
    return Com()->isEnabled() && Upg()->isEnabled() && Button("SB_Open")->isEnabled() &&
           Button("SB_Sta")->isEnabled();
  }

 protected:
  QString ChooseDownloadFileName() override { return downloadAnswer; }
  QString ChooseUploadFileName() override { return uploadAnswer; }
  bool ConfirmOverwrite() override {
    ++overwriteQuestions;
    return overwriteAnswer;
  }
  void ShowErrorBox(const QString& text) override { errorBoxes << text; }
  void EndProcess() override { ++processEnds; }
};

// The window on one end of an in-memory port pair whose far end stays silent: a started operation
// waits for a box that never comes. The window goes first, so that it stops before its port's
// far end does.
struct FormWithSilentBox {
  explicit FormWithSilentBox(const QString& programDir) {
    auto [windowEnd, far] = MemoryPort::MakePair();
    boxEnd = std::move(far);
    form = std::make_unique<ScriptedForm>(std::move(windowEnd), programDir);
    form->show();
  }

  std::unique_ptr<MemoryPort> boxEnd;
  std::unique_ptr<ScriptedForm> form;
};

}  // namespace vn::testing

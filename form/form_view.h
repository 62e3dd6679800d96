#pragma once
// What a view shows of the main window, and what the form asks of it. The form decides; a view
// only draws the state it is given and answers the modal questions.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "form/port_entries.h"
#include "form/status_tone.h"

namespace vn {

struct FormState {
  // The port list, the operation list, Open and Start, with the two lists' captions: disabled
  // while a transfer runs.
  bool choicesEnabled = true;
  std::vector<PortEntry> ports;
  int portIndex = 0;
  int operationIndex = 0;
  // "Open" with the open picture for a download, "Save" with the save picture for an upload.
  bool openSaves = false;
  std::string openCaption;
  std::string fileName;
  // The status line: its text, its colour, and its tooltip (the whole text, then the run's
  // details: the system's reason for a failure, what was kept on disk).
  std::string status;
  StatusTone tone = StatusTone::kNeutral;
  std::string statusToolTip;
  // The lamp, and why the port failed when it did.
  bool portOpen = false;
  std::string lampToolTip;
  int progress = 0;
  int progressMaximum = 100;

  friend bool operator==(const FormState&, const FormState&) = default;
};

class FormView {
 public:
  virtual ~FormView() = default;
  // Called on the view's thread whenever the state changed.
  virtual void Show(const FormState& state) = 0;
  // The file dialogs: a UTF-8 path, or nullopt when cancelled. The save dialog does not ask
  // before covering a file: Start does.
  virtual std::optional<std::string> ChooseDownloadFile() = 0;
  virtual std::optional<std::string> ChooseUploadFile() = 0;
  // kOverwriteQuestion with Yes and Cancel; true for Yes.
  virtual bool ConfirmOverwrite() = 0;
  // Boxes that must not hold up what follows them: shown without waiting for OK.
  virtual void ShowErrorBox(const std::string& text) = 0;
  virtual void ShowNotice(const std::string& text) = 0;
  // Close and Exit: end the process at once.
  virtual void EndProcess() = 0;
  // Runs `task` later on the view's thread; called from the worker thread. A task still queued
  // when the view goes away may be dropped.
  virtual void PostToUiThread(std::function<void()> task) = 0;
};

}  // namespace vn

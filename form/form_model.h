#pragma once
// The main window's behaviour without any toolkit: port, operation and file choice, Start, Reset,
// Close, and what the running operation reports.
//
// Threads: the view's thread makes every call here and owns the state; Start's checks run on it
// and open the port before anything runs. The station's worker thread then runs the operation
// loop and owns the port until it ends; what it reports is posted to the view's thread, tagged
// with the run it belongs to, so that reports of a run already stopped are dropped (a Reset is
// not undone by a late "Connectting..."). Reset, Close, a port or operation change, Open and a
// second Start stop a running operation first: the station's stop ends every wait of the worker
// within a fraction of a second, and the worker is joined before the port is touched again.
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "form/form_view.h"
#include "link/com_port.h"
#include "link/link_observer.h"
#include "link/station.h"

namespace vn {

class FormModel : private LinkObserver {
 public:
  // Made on the view's thread. `programDir` is where the download's scratch file goes; `ports`
  // lists the port entries each time the list is opened. The start-up state (COM.01, Download, the
  // port closed) is State(): the view draws it once built, and every change after that reaches it
  // through Show.
  FormModel(FormView& view, std::unique_ptr<ComPort> port, std::string programDir,
            PortEntrySource ports = CurrentPortEntries);
  // Stops a running operation and closes the port.
  ~FormModel() override;
  FormModel(const FormModel&) = delete;
  FormModel& operator=(const FormModel&) = delete;

  const FormState& State() const { return state_; }
  // True while the worker runs an operation (waiting for a box included).
  bool Running() const { return station_.Running(); }

  // The user's commands.
  void ChoosePort(int index);       // stops a run, then opens that port
  void ChooseOperation(int index);  // stops a run, clears file, status and progress
  void Open();                      // SB_Open: the file dialog of the operation
  void Start();                     // SB_Sta
  void Reset();                     // SB_Reset: back to the start-up state
  void Close();                     // SB_Close1 and Exit: stop, close, end the process
  // The window is closed by the system: stop and close, the process ends by itself.
  void Shutdown();
  // The port list is about to open: list the ports present now, keeping the chosen one chosen
  // (and listed, even if its device went away meanwhile).
  void RefreshPorts();
  // The index of the entry for the port `name`, added at the end if it is not listed.
  int EnsurePort(const std::string& name);

 private:
  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override;
  void OnDetail(const std::string& text) override;
  void OnBoxEnd(const BoxOutcome& outcome) override;
  // Runs `apply` on the view's thread for the run current now, or drops it once that run ended.
  void Deliver(std::function<void()> apply);
  void Apply(const LinkEvent& event);
  void AddDetail(const std::string& text);
  void Publish();
  void SetStatus(std::string text, StatusTone tone);
  void ClearStatus();
  void SetOperation(int index);
  Operation SelectedOperation() const;
  // Stops and joins a running operation; true if one ran. The port is left not usable.
  bool StopOperation();
  // For Open and an operation change, which keep the chosen port: reopen it if a stop spent it.
  void StopOperationKeepingPort();
  std::string SelectedPortName() const;
  bool OpenSelectedPort();
  void WorkerFinished(int run);

  FormView& view_;
  PortEntrySource portSource_;
  const std::thread::id viewThread_;
  std::atomic<int> run_{0};  // reports of other runs are stale
  std::vector<std::string> details_;
  FormState state_;
  FormState shown_;  // what the view was last given
  // Tasks posted to the view's thread check it: they may run after the model has gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  Station station_;  // last: stopped before the rest goes
};

}  // namespace vn

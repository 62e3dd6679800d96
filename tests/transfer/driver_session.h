#pragma once
// One virtual box on a pseudo-terminal and the PC's port opened on it, with the operation
// driver run against it under a hang guard.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "link/operation_driver.h"
#include "link/system_port.h"
#include "sim/virtual_box.h"
#include "support/recording_observer.h"
#include "support/sample_files.h"

namespace vn::testing {

class DriverSession {
 public:
  explicit DriverSession(BoxOptions options = {}) : box(std::move(options)) {
    started = box.Start();
    port = MakeSystemComPort();
    opened = started && port->OpenComPort(box.PtyPath());
  }
  ~DriverSession() {
    port->RequestStop();
    port->CloseComPort();
    box.Stop();
  }

  // Runs the driver's loop as Start would. A run still going after `guard` is stopped through
  // the port's cancel and reported as hung.
  LoopResult Run(int operation, const std::string& file, int boxes = 1,
                 std::chrono::seconds guard = std::chrono::seconds(60)) {
    OperationDriver driver(*port, observer, programDir.empty() ? scratch.Path() : programDir);
    if (operation == kOperationDownload) driver.ChooseDownloadFile(file);
    if (afterChoose) afterChoose();
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    std::thread watchdog([&] {
      std::unique_lock lock(mutex);
      if (!done.wait_for(lock, guard, [&] { return finished; })) {
        hung = true;
        driver.RequestStop();
        port->RequestStop();
      }
    });
    const LoopResult result = driver.RunLoop(operation, file, boxes);
    {
      std::lock_guard lock(mutex);
      finished = true;
    }
    done.notify_all();
    watchdog.join();
    headerAfterRun = driver.CurrentHeader();
    return result;
  }

  std::vector<std::string> Statuses() const { return observer.Statuses(); }
  // The box finishes its own bookkeeping (programming its image, counting) just after the PC has
  // its last answer: wait for that before looking at the box.
  bool BoxFinished(int sessions) { return box.WaitSessions(sessions, std::chrono::seconds(10)); }

  VirtualBox box;
  std::unique_ptr<ComPort> port;
  RecordingObserver observer;
  ScratchFolder scratch;
  std::string programDir;             // the driver's program folder; the scratch folder when empty
  std::function<void()> afterChoose;  // runs between choosing the file and Start
  bool started = false;
  bool opened = false;
  std::atomic<bool> hung{false};
  FILE_DOWNLOAD_HEADER_T headerAfterRun{};  // the driver's current download header
};

}  // namespace vn::testing

#pragma once
// One port and the operation run on it: the port, the operation driver, the worker thread that
// runs the driver's loop, and the one way to stop that run. The window, the command line, the
// benchmarks and the tests all run operations through a Station.
//
// Open, Start, Stop, Wait and Close belong to the thread that owns the station; RequestStop may
// come from any thread (a signal, a watchdog).
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "dld/region_sets.h"
#include "link/com_port.h"
#include "link/link_observer.h"
#include "link/message_trace.h"
#include "link/operation_driver.h"

namespace vn {

struct StationJob {
  StationJob(Operation operation, std::string file, int boxes,
             std::function<void()> onFinished = {})
      : operation(operation),
        file(std::move(file)),
        boxes(boxes),
        onFinished(std::move(onFinished)) {}

  Operation operation;  // Download sends the driver's image into boxes
  std::string file;     // the upgrade file the image was read from, or the one to write
  int boxes;            // 0: one box after another until a failure or a stop
  // Runs on the worker as its last act, once the result is in.
  std::function<void()> onFinished;
  LoopOptions options{};  // a production line's; the window keeps the defaults
};

class Station {
 public:
  Station(std::unique_ptr<ComPort> port, LinkObserver& observer, std::string programDir);
  // Stops a run still going and closes the port.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Stops a run still going, then opens `portName`; false when it cannot be opened (the port's
  // LastOpenFailure says why). A notice the port gives goes to the observer as a kNotice.
  bool Open(const std::string& portName);
  // Stops a run still going and closes the port.
  void Close();

  // Runs the driver's loop on the worker. Refused (false) while a run has not been collected by
  // Wait or Stop, and when the port is not open.
  bool Start(StationJob job);
  // Ends a run at its next poll; safe from any thread, and before the worker has even begun.
  void RequestStop();
  // RequestStop, then Wait. Leaves the port not usable until it is opened again. True if a run
  // was going.
  bool Stop();
  // Joins the worker once its run has ended by itself; true if there was one.
  bool Wait();
  // Wait, but for `limit` at most: false (the run goes on) when it has not ended by then.
  bool WaitFor(std::chrono::milliseconds limit);

  // True from Start until the run is collected by Wait or Stop.
  bool Running() const { return worker_.joinable(); }
  // The last collected run's result.
  const LoopResult& Result() const { return result_; }
  // How the last box that ended did; nullopt before the first. Safe from any thread, also while
  // a run goes on.
  std::optional<BoxOutcome> LastOutcome() const { return driver_.LastOutcome(); }

  // The port. Whether it is open and usable now (a run that lost it has cleared it).
  bool PortOpened() const { return port_->PortOpened(); }
  // Why the last Open failed; kNone after one that succeeded.
  Failure LastOpenFailure() const { return port_->LastOpenFailure(); }
  // Every message on the line also goes to `observer` (a trace); null: none. Before a run only;
  // the observer outlives the station's runs.
  void TraceMessages(MessageObserver* observer) { port_->Tally().SetObserver(observer); }

  // The file the runs use, as the driver keeps it (see OperationDriver); from the thread that
  // owns the station, while no run goes.
  void ClearForOpen() { driver_.ClearForOpen(); }
  bool ChooseDownloadFile(const std::string& file, Failure* failure = nullptr) {
    return driver_.ChooseDownloadFile(file, failure);
  }
  bool UseDownloadImage(DownloadImage image) { return driver_.UseDownloadImage(std::move(image)); }
  const DownloadImage& Image() const { return driver_.Image(); }
  StartCheck CheckStart(Operation operation, const std::string& file) {
    return driver_.CheckStart(operation, file);
  }
  // The current download header; it stays where it is for the station's life, and an upload
  // reloads it from what the box sent.
  const FILE_DOWNLOAD_HEADER_T& CurrentHeader() { return driver_.CurrentHeader(); }

 private:
  std::unique_ptr<ComPort> port_;
  LinkObserver& observer_;
  OperationDriver driver_;
  std::thread worker_;
  // Guards the two stop calls against a RequestStop from another thread racing the start of a
  // run: the driver's flag is cleared only under it.
  std::mutex stopMutex_;
  std::mutex endMutex_;
  std::condition_variable ended_;
  bool runEnded_ = true;
  LoopResult result_{};
  LoopResult running_{};  // written by the worker, read once it has been joined
};

}  // namespace vn

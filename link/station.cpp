#include "link/station.h"

#include "link/message_wait.h"

namespace vn {

Station::Station(std::unique_ptr<ComPort> port, LinkObserver& observer, std::string programDir)
    : port_(std::move(port)),
      observer_(observer),
      driver_(*port_, observer, std::move(programDir)) {}

Station::~Station() {
  Close();
}

bool Station::Open(const std::string& portName) {
  Stop();
  // Opening purges the port's input; what the last run had read but not taken goes with it.
  DropPendingInput(*port_);
  const bool opened = port_->OpenComPort(portName);
  if (const std::string notice = port_->LastOpenNotice(); !notice.empty()) {
    observer_.OnEvent(StatusEvent(notice, EventKind::kNotice));
  }
  return opened;
}

void Station::Close() {
  Stop();
  port_->CloseComPort();
}

bool Station::Start(StationJob job) {
  {
    // A stop requested before this point has spent the port and refuses the run; one requested
    // after it finds the driver's flag cleared already and sets it again.
    std::lock_guard lock(stopMutex_);
    if (Running() || !port_->PortOpened()) return false;
    driver_.ClearStopRequest();
  }
  {
    std::lock_guard lock(endMutex_);
    runEnded_ = false;
  }
  worker_ = std::thread([this, job = std::move(job)] {
    running_ = driver_.RunLoop(job.operation, job.file, job.boxes, job.options);
    if (job.onFinished) job.onFinished();
    std::lock_guard lock(endMutex_);
    runEnded_ = true;
    ended_.notify_all();
  });
  return true;
}

void Station::RequestStop() {
  std::lock_guard lock(stopMutex_);
  // The driver first: a wait that the port's cancel ends must find the stop already requested,
  // or the loop would report the stop as a failed connection.
  driver_.RequestStop();
  port_->RequestStop();
}

bool Station::Stop() {
  if (!Running()) return false;
  RequestStop();
  return Wait();
}

bool Station::Wait() {
  if (!worker_.joinable()) return false;
  worker_.join();
  result_ = running_;
  return true;
}

bool Station::WaitFor(std::chrono::milliseconds limit) {
  {
    std::unique_lock lock(endMutex_);
    if (!ended_.wait_for(lock, limit, [this] { return runEnded_; })) return false;
  }
  Wait();
  return true;
}

}  // namespace vn

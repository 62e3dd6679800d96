#include "link/operation_driver.h"

#include <filesystem>
#include <thread>

#include "dld/header_file.h"
#include "dld/region_sets.h"
#include "link/download.h"
#include "link/framing.h"
#include "link/progress.h"
#include "link/upload.h"

namespace vn {

OperationDriver::OperationDriver(ComPort& port, LinkObserver& observer, std::string programDir)
    : port_(port), observer_(observer), programDir_(std::move(programDir)) {}

void OperationDriver::ClearForOpen() {
  observer_.OnEvent(StatusEvent(""));
  header_ = FILE_DOWNLOAD_HEADER_T{};
  Progress(observer_).ProgressReset();
}

bool OperationDriver::ChooseDownloadFile(const std::string& file) {
  return ReadDownloadHeader(file, header_);
}

StartCheck OperationDriver::CheckStart(int operation, const std::string& file) {
  std::error_code error;
  const bool exists = !file.empty() && std::filesystem::exists(file, error);
  if (operation == kOperationDownload) {
    if (file.empty()) {
      observer_.OnEvent(StatusEvent(kNoDownloadFileText, EventKind::kFailure));
      return StartCheck::kRefused;
    }
    if (!exists) {
      observer_.OnEvent(StatusEvent(kMissingDownloadFileText, EventKind::kFailure));
      return StartCheck::kRefused;
    }
    return StartCheck::kReady;
  }
  if (file.empty()) {
    observer_.OnEvent(StatusEvent(kNoUploadFileText, EventKind::kFailure));
    return StartCheck::kRefused;
  }
  return exists ? StartCheck::kAskOverwrite : StartCheck::kReady;
}

bool OperationDriver::PauseBetweenBoxes() {
  // The pause is short but must not delay a stop.
  const auto until = std::chrono::steady_clock::now() + kPauseAfterSuccess;
  while (std::chrono::steady_clock::now() < until) {
    if (stopRequested_ || !port_.PortOpened()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return !stopRequested_ && port_.PortOpened();
}

LoopResult OperationDriver::RunLoop(int operation, const std::string& file, int maxBoxes) {
  const bool download = operation == kOperationDownload;
  Progress progress(observer_);
  TransferContext context{
      port_,       observer_,
      progress,    header_,
      programDir_, download ? ReadPartitionCount(file) : PartitionCountOfOperation(operation)};
  LoopResult result;
  bool repeat = true;
  while (repeat) {
    repeat = false;
    progress.ProgressReset();
    ShowMessage(context, kMsgConnecting);
    bool succeeded = false;
    if (WaitConnect(port_)) {
      succeeded = download ? DownloadToBox(context, file) : UploadFromBox(context, file, operation);
    } else if (!stopRequested_) {
      // A first frame that is not the ready frame, or a port that went away; a stop shows nothing.
      ShowMessage(context, kMsgConnectFailed);
    }
    observer_.OnEvent(StatusEvent("", EventKind::kIdle));
    if (!succeeded) {
      result.stopped = stopRequested_ || !port_.PortOpened();
      result.failed = !result.stopped;
      break;
    }
    observer_.OnEvent(StatusEvent(kUpdateSuccessText, EventKind::kSuccess));
    ++result.boxesDone;
    const bool moreBoxes = download && (maxBoxes == 0 || result.boxesDone < maxBoxes);
    if (moreBoxes) {
      repeat = PauseBetweenBoxes();
      result.stopped = !repeat;
    }
  }
  return result;
}

void OperationDriver::RequestStop() {
  stopRequested_ = true;
}

void OperationDriver::ClearStopRequest() {
  stopRequested_ = false;
}

}  // namespace vn

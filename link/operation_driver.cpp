#include "link/operation_driver.h"

#include <cstring>
#include <filesystem>
#include <thread>

#include "dld/header_file.h"
#include "dld/region_sets.h"
#include "dld/upgrade_file_check.h"
#include "link/download.h"
#include "link/event_stamp.h"
#include "link/framing.h"
#include "link/outcome_keeper.h"
#include "link/progress.h"
#include "link/upload.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

// The whole file, or no bytes at all with `failure` saying why.
DownloadImage ReadImage(const std::string& file, Failure& failure) {
  auto image = std::make_shared<std::vector<uint8_t>>();
  if (!ReadUpgradeImage(file, *image, failure)) image->clear();
  return image;
}

}  // namespace

OperationDriver::OperationDriver(ComPort& port, LinkObserver& observer, std::string programDir)
    : port_(port), observer_(observer), programDir_(std::move(programDir)) {}

void OperationDriver::ClearForOpen() {
  observer_.OnEvent(StatusEvent(""));
  UseDownloadImage(nullptr);
  Progress(observer_).ProgressReset();
}

bool OperationDriver::ChooseDownloadFile(const std::string& file, Failure* failure) {
  Failure unread;
  DownloadImage image = ReadImage(file, unread);
  if (failure) *failure = unread;
  return UseDownloadImage(std::move(image));
}

bool OperationDriver::UseDownloadImage(DownloadImage image) {
  image_ = image ? std::move(image) : std::make_shared<const std::vector<uint8_t>>();
  // Header and image always go together: without a header of its own the image has none.
  header_ = FILE_DOWNLOAD_HEADER_T{};
  return ReadDownloadHeader(*image_, header_);
}

StartCheck OperationDriver::CheckStart(Operation operation, const std::string& file) {
  std::error_code error;
  const bool exists = !file.empty() && std::filesystem::exists(Utf8Path(file), error);
  if (operation == Operation::kDownload) {
    if (file.empty()) {
      observer_.OnEvent(StatusEvent(kNoDownloadFileText, EventKind::kFailure));
      return StartCheck::kRefused;
    }
    if (!exists) {
      observer_.OnEvent(StatusEvent(kMissingDownloadFileText, EventKind::kFailure));
      return StartCheck::kRefused;
    }
    // What is sent is read now, in one piece. A file rewritten or replaced since it was chosen
    // may hold another header than the one shown since: the box would get a file nobody chose.
    Failure unread;
    DownloadImage image = ReadImage(file, unread);
    FILE_DOWNLOAD_HEADER_T header{};
    ReadDownloadHeader(*image, header);
    if (std::memcmp(BytesOf(header), BytesOf(header_), kHeaderSize) != 0) {
      observer_.OnEvent(StatusEvent(kMissingDownloadFileText, EventKind::kFailure));
      observer_.OnDetail(unread.Failed()
                             ? FailureText(unread)
                             : file + " has changed since it was opened; open it again");
      return StartCheck::kRefused;
    }
    UseDownloadImage(std::move(image));
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

void OperationDriver::EndOnStopOrLoss(LoopResult& result, bool stopped, bool underBox,
                                      LinkObserver& observer) const {
  if (stopped) {
    result.end = LoopEnd::kStopped;
    result.detail = "stopped by a stop request";
    return;
  }
  result.end = LoopEnd::kPortLost;
  result.lostUnderBox = underBox;
  const std::string words = FailureText(port_.LossFailure());
  result.detail = underBox ? "the port went away under box " +
                                 std::to_string(result.boxesDone + result.boxesFailed)
                           : "the port went away while no box was attached";
  if (!words.empty()) result.detail += ": " + words;
  // No box failed: the status texts have nothing to say about it, a warning does.
  if (!underBox) observer.OnEvent(StatusEvent(result.detail, EventKind::kWarning));
}

bool OperationDriver::AwaitBox(bool drainStrays) {
  while (!WaitConnect(port_)) {
    if (!drainStrays || stopRequested_ || !port_.PortOpened()) return false;
    // Whatever came instead of the ready frame belongs to no box.
    port_.Tally().StartBox();
  }
  return true;
}

void OperationDriver::EndWithoutBox(LoopResult& result, TransferContext& context,
                                    LinkObserver& observer) {
  const bool stopped = stopRequested_;
  const bool lost = !stopped && !port_.PortOpened();
  // The window's connect fails on a first frame that is not the ready frame; no box has engaged,
  // so none failed.
  if (!stopped && !lost) ShowMessage(context, kMsgConnectFailed);
  observer.OnEvent(StatusEvent("", EventKind::kIdle));
  if (stopped || lost) {
    EndOnStopOrLoss(result, stopped, false, observer);
    return;
  }
  result.end = LoopEnd::kFailed;
  result.detail = "the first frame on the line was not a box's ready frame";
}

LoopResult OperationDriver::RunLoop(Operation operation, const std::string& file, int maxBoxes,
                                    LoopOptions options) {
  const bool download = operation == Operation::kDownload;
  BoxTask* const task = options.task.get();
  OutcomeKeeper keeper(observer_, port_, stopRequested_);
  EventStamp stamp(keeper, port_);
  Progress progress(stamp);
  // Every box of the run gets these very bytes, whatever happens to the file meanwhile.
  const DownloadImage image = image_;
  TransferContext context{port_,
                          stamp,
                          progress,
                          header_,
                          programDir_,
                          task       ? task->PartitionCount()
                          : download ? int(header_.partitionCount)
                                     : PartitionCountOfOperation(operation)};
  LinkTally& tally = port_.Tally();
  LoopResult result;
  bool repeat = true;
  while (repeat) {
    repeat = false;
    const int box = result.boxesDone + result.boxesFailed + 1;
    stamp.StartBox(box);
    keeper.StartBox(box);
    tally.StartBox();
    progress.ProgressReset();
    ShowMessage(context, kMsgConnecting);
    // A box exists once it has engaged: its ready frame answered and its session begun.
    if (!AwaitBox(options.keepGoing)) {
      EndWithoutBox(result, context, stamp);
      break;
    }
    tally.ArmStall(options.stallLimit);
    const bool succeeded = task       ? task->Run(context)
                           : download ? DownloadToBox(context, *image)
                                      : UploadFromBox(context, file, RegionSetOf(operation));
    // A box that got to its end is done, even when a stop comes right after it. Read once, so
    // that the pass's end, its count and the result tell the same.
    const bool stopAsked = !succeeded && stopRequested_;
    const bool portLost = !succeeded && !stopAsked && !port_.PortOpened();
    stamp.OnEvent(StatusEvent("", EventKind::kIdle));
    result.end = succeeded ? LoopEnd::kDone : LoopEnd::kFailed;
    if (succeeded) {
      stamp.OnEvent(task ? task->DoneEvent() : BoxDoneEvent());
      ++result.boxesDone;
    } else if (!stopAsked) {
      ++result.boxesFailed;  // a box on a port that went away failed; one a stop cut did not
    }
    const BoxOutcome outcome = keeper.EndBox(succeeded   ? BoxResult::kSuccess
                                             : stopAsked ? BoxResult::kStopped
                                                         : BoxResult::kFailure);
    {
      std::lock_guard lock(outcomeMutex_);
      lastOutcome_ = outcome;
    }
    if (!succeeded && !stopAsked && !portLost) {
      const char* kind = BoxFailureKindName(outcome.failureKind);
      result.detail = "box " + std::to_string(box) + " failed (" + (kind ? kind : "unknown") + ")";
    }
    if (stopAsked || portLost) {
      EndOnStopOrLoss(result, stopAsked, true, stamp);
      break;
    }
    if (!succeeded && !options.keepGoing) break;
    const int served = result.boxesDone + result.boxesFailed;
    const bool moreBoxes = (download || task) && (maxBoxes == 0 || served < maxBoxes);
    if (moreBoxes) {
      repeat = PauseBetweenBoxes();
      if (!repeat) EndOnStopOrLoss(result, stopRequested_, false, stamp);
    } else if (result.boxesFailed > 0 && result.end == LoopEnd::kDone) {
      // keepGoing: the last box succeeded, earlier ones did not.
      result.detail =
          std::to_string(result.boxesFailed) + " of " + std::to_string(served) + " boxes failed";
    }
  }
  return result;
}

std::optional<BoxOutcome> OperationDriver::LastOutcome() const {
  std::lock_guard lock(outcomeMutex_);
  return lastOutcome_;
}

void OperationDriver::RequestStop() {
  stopRequested_ = true;
}

void OperationDriver::ClearStopRequest() {
  stopRequested_ = false;
}

}  // namespace vn

#pragma once
// What the Open and Start buttons do, without any widgets: the checks before an operation, and
// the loop that waits for a box, runs one transfer, and for a download goes on with the next box.
// A Station runs RunLoop on its worker thread and is the one that stops it.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "dld/blocks.h"
#include "dld/region_sets.h"
#include "link/box_outcome.h"
#include "link/box_task.h"
#include "link/com_port.h"
#include "link/link_observer.h"
#include "link/status_texts.h"
#include "link/transfer_context.h"
#include "platform/failure.h"

namespace vn {

inline constexpr std::chrono::milliseconds kPauseAfterSuccess{1500};

// An upgrade file's bytes, read once and sent unchanged to every box of a run.
using DownloadImage = std::shared_ptr<const std::vector<uint8_t>>;

enum class StartCheck {
  kReady,         // go on with RunLoop
  kRefused,       // a status text was shown; nothing more to do
  kAskOverwrite,  // the upload file exists: ask kOverwriteQuestion, then RunLoop or stop
};

// What ended a run's loop.
enum class LoopEnd {
  kDone,      // the last box succeeded: all that was asked for is done
  kFailed,    // the last box failed (with keepGoing, the last of those asked for), or the
              // window's connect met a frame that is not a ready frame (no box)
  kStopped,   // a stop was requested
  kPortLost,  // the port went away (unplugged, or closed under the run) without a stop
};

struct LoopResult {
  int boxesDone = 0;  // successful operations
  // Failed ones, a box whose port went away under it included; a stop fails none, and neither
  // does a port that goes away while no box is attached.
  int boxesFailed = 0;
  LoopEnd end = LoopEnd::kDone;
  // kPortLost: whether a box was attached when the port went away (it then failed).
  bool lostUnderBox = false;
  // Why the run ended as it did, in a line: "the port went away while no box was attached: the
  // line hung up", "box 2 failed (no-answer)", "stopped by a stop request"; empty when it did
  // all that was asked.
  std::string detail;
};

// How a production line runs; the window's loop uses neither.
struct LoopOptions {
  // A failed box is counted and the next one awaited, as after a success; a stop or a lost port
  // still ends the loop. Whatever comes on the line before a box's ready frame is no box: it is
  // dropped while the next box is awaited.
  bool keepGoing = false;
  // A box that sends nothing awaited for this long fails; 0: wait as long as it takes. Waiting
  // for a box to announce itself is no stall.
  std::chrono::milliseconds stallLimit{0};
  // Run on each box instead of the operation's download or upload, one box after another as a
  // download does; null: the operation's own. It outlives the run.
  std::shared_ptr<BoxTask> task;
};

class OperationDriver {
 public:
  OperationDriver(ComPort& port, LinkObserver& observer, std::string programDir);

  // The current download header: read when a download file is chosen, reloaded after an upload.
  FILE_DOWNLOAD_HEADER_T& CurrentHeader() { return header_; }
  // The bytes a download sends to every box: the whole file, read once when it was chosen (empty
  // when it could not be read). The current header is always its first 71 bytes.
  const DownloadImage& Image() const { return image_; }
  // Open button: clears the status, the current header, the image and the progress bar.
  void ClearForOpen();
  // Open button, download mode, after the dialog: reads the whole file as the image and takes its
  // header. False when there is no header to take; `failure`, when given, then says why when the
  // file could not be read at all.
  bool ChooseDownloadFile(const std::string& file, Failure* failure = nullptr);
  // The same for an image read by the caller, shared by every port of a production line.
  bool UseDownloadImage(DownloadImage image);

  // Start's checks, in the window's order; shows the refusal text itself. `file` is the chosen
  // file name (empty when none). A download reads the file again as the image to send, and
  // refuses it when its header is no longer the one read when it was chosen: the status line has
  // shown that one since Open.
  StartCheck CheckStart(Operation operation, const std::string& file);

  // The loop. The port must be open. `maxBoxes` 0 means: go on until a failure or a stop.
  // Returns once the loop ends; a stop (Station::RequestStop) ends it within a fraction of a
  // second.
  LoopResult RunLoop(Operation operation, const std::string& file, int maxBoxes = 0,
                     LoopOptions options = {});

  // The last box's outcome, once one has ended; safe from any thread.
  std::optional<BoxOutcome> LastOutcome() const;

  // Ends the pause between two boxes at once (the port's RequestStop ends the waits). Safe from any
  // thread; it holds until ClearStopRequest.
  void RequestStop();
  // Before the next RunLoop, on the thread that starts it: a stop requested while a run is being
  // started is then never lost.
  void ClearStopRequest();

 private:
  // Waits for a box's ready frame; false when none came first, or on a stop or a lost port. With
  // `drainStrays` (a production line) anything else that comes first is dropped and the wait goes
  // on: what a box that failed left on the line (reports it sent on after the PC had given up),
  // or noise. Without, it fails the connect, as the window's always has.
  bool AwaitBox(bool drainStrays);
  // The run's end when no box engaged: a connect that failed (shown, "Connect failed!"), a stop or
  // a lost port. No box failed.
  void EndWithoutBox(LoopResult& result, TransferContext& context, LinkObserver& observer);
  // The 1.5 s pause after a success; false when a stop ended it.
  bool PauseBetweenBoxes();
  // The run's end by a stop (`stopped`) or a port that went away, under a box or not: `result.end`
  // and `detail`, and a warning for a port lost while no box failed with it.
  void EndOnStopOrLoss(LoopResult& result, bool stopped, bool underBox,
                       LinkObserver& observer) const;

  ComPort& port_;
  LinkObserver& observer_;
  std::string programDir_;
  FILE_DOWNLOAD_HEADER_T header_{};
  DownloadImage image_ = std::make_shared<const std::vector<uint8_t>>();
  std::atomic<bool> stopRequested_{false};
  mutable std::mutex outcomeMutex_;
  std::optional<BoxOutcome> lastOutcome_;
};

}  // namespace vn

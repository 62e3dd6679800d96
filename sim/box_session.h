#pragma once
// One session of the box: everything from a start command until the box is idle again, a
// download (0x0A) or an upload (0x09), with the faults it was asked to inject.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dld/blocks.h"
#include "dld/region_sets.h"
#include "sim/box_link.h"
#include "sim/box_options.h"

namespace vn {

// Longer than any wait of the PC's between two messages of a session (5 s for an answer): a PC
// quiet for this long has given up, and the box goes idle again.
inline constexpr std::chrono::milliseconds kPcSilence{6000};
// Ten NAKs in a row end the PC's receiving loops, so the box gives up sending there too.
inline constexpr int kMaxNaksInRow = 10;

// What the box thread and its owner share: statistics and the flash image, under one mutex.
struct BoxShared {
  mutable std::mutex mutex;
  std::condition_variable changed;
  BoxStats stats;
  std::vector<uint8_t> flash;

  template <typename Change>
  void Update(Change change) {
    {
      std::lock_guard lock(mutex);
      change(stats, flash);
    }
    changed.notify_all();
  }
};

enum class SessionEnd {
  kDone,       // the operation completed
  kRefused,    // the identity step refused (either side)
  kAbandoned,  // the PC went silent or gave up; the box goes idle
  kStopped,    // the box is being stopped
  kVanished,   // the pseudo-terminal was closed (on purpose or not); the box ends
};

class BoxSession {
 public:
  BoxSession(BoxLink& link, const BoxOptions& options, BoxShared& shared);

  SessionEnd RunDownload();
  SessionEnd RunUpload();
  // One line on how the session went, for the log.
  const std::string& Summary() const { return summary_; }

 private:
  // nullopt: the session goes on; otherwise it ends so.
  using Step = std::optional<SessionEnd>;

  // Download.
  // The header, acknowledged; `verdictSent` when the verdict went out with the ACK.
  Step ReceiveHeader(FILE_DOWNLOAD_HEADER_T& header, bool& verdictSent);
  // Whether the box takes the file; a refusal is counted.
  bool Judge(const FILE_DOWNLOAD_HEADER_T& header);
  Step ReceiveDescriptor(FILE_PARTITION_HEADER_T& descriptor);
  // `lastBlock`: the download's last, whose last ACK may go out with the first erase report.
  Step ReceiveBlock(size_t blockSize, bool lastBlock, std::vector<uint8_t>& block);
  // A data frame the PC sent again because it missed the ACK of the previous one.
  bool IsRepeatOfPrevious(const std::vector<uint8_t>& frame) const;
  // The PC sent the accepted header again: it missed the ACK or the verdict.
  Step AnswerRepeatedHeader(const std::vector<uint8_t>& start);
  Step SendReports(uint8_t code, FaultStep step, int failAt, const std::vector<bool>& partitionsOk,
                   const std::vector<FILE_PARTITION_HEADER_T>& descriptors);

  // Upload.
  Step SendHeader();
  Step ReceiveRequest(std::vector<UploadRegion>& regions);
  Step SendRegion(const UploadRegion& region);
  // Sends a message on the box's own initiative until the PC acknowledges it: `first` the first
  // `firstSends` times, `again` on every later resend after a NAK, ten NAKs in a row at most.
  // `work` passes before the first send; `lead` (an answer the box still owes) goes out in the
  // same write.
  Step SendUntilAcked(std::span<const uint8_t> first, std::span<const uint8_t> again,
                      const char* what, bool isFrame, std::chrono::milliseconds work = {},
                      std::span<const uint8_t> lead = {}, int firstSends = 1);
  enum class Reply { kAck, kNak, kRefused };
  // The PC's answer to the box's `what`; the PC owes it.
  Step AwaitReply(Reply& reply, const char* what);

  // Common.
  // Ends the session here when the faults say to go silent or vanish at `step`.
  Step AtStep(FaultStep step);
  Step Lost(Receipt receipt, const char* awaited);
  // An answer the PC owed never came: a failed session, whatever the PC made of it.
  Step Unanswered(Receipt receipt, const char* what);
  // One whole message of `size` bytes, of `kind`; a partial one is answered with NAK and awaited
  // again.
  Step ReceiveWhole(size_t size, FaultStep kind, const char* awaited,
                    std::vector<uint8_t>& message);
  SessionEnd Abandon(std::string why);
  // Sends ACK (with `follow` in the same write), unless this is an ACK the faults drop or turn
  // into a NAK: then false is returned, and the message counts as not received.
  bool Ack(std::span<const uint8_t> follow = {});
  void Nak();
  // A message on the box's own initiative, after `work` (the box busy with what leads to it).
  Step SendAfter(std::chrono::milliseconds work, std::span<const uint8_t> bytes);
  // Damages `message` as the line would, when it is the message of `kind` the faults name.
  void ReceivedFromPc(FaultStep kind, std::vector<uint8_t>& message);
  // True the first time the faults ask for `step` to go out with the message before it.
  bool BackToBack(FaultStep step);
  template <typename Change>
  void Record(Change change) {
    shared_.Update([&](BoxStats& stats, std::vector<uint8_t>&) { change(stats); });
  }

  BoxLink& link_;
  const BoxOptions& options_;
  const BoxFaults& faults_;
  BoxShared& shared_;
  std::string summary_;

  // Fault counters, from 1 within the session.
  int acksDue_ = 0;
  int acksToDrop_ = 0;
  int acksToNak_ = 0;
  int damageKindSeen_ = 0;
  int framesIn_ = 0;
  int naksLeft_ = 0;
  int descriptorsOut_ = 0;
  int framesOut_ = 0;
  bool backToBackDone_ = false;  // the faults name one step, which joins its message once
  bool backToBackVerdict_ = false;
  // An ACK still to go out with the box's next message: the read request's with the first
  // descriptor (upload), the last data frame's with the first erase report (download).
  bool ackOwed_ = false;
  // The header the box accepted, to recognise it when the PC sends it again.
  std::vector<uint8_t> acceptedHeader_;
  // Download frame numbering.
  uint8_t nextFrameNumber_ = 1;
  bool anyFrameTaken_ = false;
};

}  // namespace vn

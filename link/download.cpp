#include "link/download.h"

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "dld/file_at.h"
#include "link/framing.h"
#include "platform/file_system.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

constexpr int kScratchFileMode = 0600;

// The header travels through a scratch file in the program's folder before it is sent. What is
// sent is always the header held in memory: when the scratch file cannot be created (an installed
// program's folder is read-only), or reads back anything else (another copy of the tool sharing
// the folder wrote its own header in between), the bytes in memory are the right ones.
void PassThroughScratchFile(const TransferContext& context, uint8_t* out) {
  const uint8_t* header = BytesOf(context.header);
  std::memcpy(out, header, kHeaderSize);
  const std::string scratch = Utf8OfPath(Utf8Path(context.programDir) / kScratchHeaderName);
  // Whatever stands under the name (a link planted by anyone who may write in that folder) is
  // removed, never written through; only the tool's own user may read the new file.
  UniqueFile file(CreateExclusiveFile(scratch, kScratchFileMode));
  if (!file) return;
  uint8_t readBack[kHeaderSize];
  std::memset(readBack, 0xFF, sizeof readBack);
  const bool roundTrip = WriteFileAt(file.get(), 0, header, kHeaderSize) &&
                         ReadFileAt(file.get(), 0, readBack, kHeaderSize);
  file.reset();
  std::remove(scratch.c_str());
  if (roundTrip && std::memcmp(readBack, header, kHeaderSize) == 0) {
    std::memcpy(out, readBack, kHeaderSize);
  }
}

}  // namespace

bool VerifyHeader(TransferContext& context) {
  if (context.header.tag != kHeaderTag) return false;
  uint8_t toSend[kHeaderSize];
  PassThroughScratchFile(context, toSend);
  return SendHeaderBlock(context.port, toSend);
}

bool SendPartitions(TransferContext& context, std::span<const uint8_t> image) {
  const int count = context.partitionCount;
  const int64_t total = std::max<int64_t>(int64_t(image.size()) - kHeaderSize, 0);
  int64_t done = 0;
  int64_t position = kHeaderSize;
  int frameNumber = 1;
  int failures = 0;
  const FrameDone onFrame = [&](int32_t payload) {
    done += payload;
    ShowBytes(context, done, total);
  };
  for (int part = 1; part <= count && failures < kMaxFailuresInRow;) {
    // A stop or a vanished port ends the transfer as failed: a half-sent file is no success.
    if (!context.port.PortOpened()) return false;
    if (!SendDescriptor(context.port, image, position)) {
      if (++failures < kMaxFailuresInRow) context.port.Tally().Resent();
      continue;
    }
    failures = 0;
    done += kDescriptorSize;
    context.progress.ProgressStep(count, 1);
    ShowPercent(context, Phase::kTransfer, part, count);
    if (!SendSection(context.port, image, position, frameNumber, onFrame)) return false;
    ++part;
  }
  return failures < kMaxFailuresInRow && context.port.PortOpened();
}

bool WaitPartitionResults(TransferContext& context, int expectedIndex, ReportPhase phase) {
  const int count = context.partitionCount;
  const Phase shown = phase == ReportPhase::kErase ? Phase::kErase : Phase::kProgram;
  bool result = false;
  int misses = 0;
  for (int part = 1; part <= count;) {
    const int index = ReceiveCommand(context.port);
    if (!context.port.PortOpened()) return false;  // stopped: the box is not done
    if (index == expectedIndex) {
      result = true;
      misses = 0;
      ShowPercent(context, shown, part, count);
      context.progress.ProgressStep(count, 1);
      ++part;
      continue;
    }
    // A failure report is not fatal on its own: N unexpected frames in a row are.
    const int failedIndex = phase == ReportPhase::kErase ? kMsgEraseFailed : kMsgProgramFailed;
    const BoxFailureKind failedKind = phase == ReportPhase::kErase ? BoxFailureKind::kEraseFailed
                                                                   : BoxFailureKind::kProgramFailed;
    context.port.Tally().NoteFault(index == failedIndex ? failedKind
                                                        : BoxFailureKind::kUnexpectedAnswer);
    if (++misses >= count) return false;
  }
  return result;
}

bool DownloadToBox(TransferContext& context, std::span<const uint8_t> image) {
  context.observer.OnEvent(StatusEvent("", EventKind::kBusy));

  ShowMessage(context, kMsgConnectSuccess);
  SendCommand(context.port, kMsgStartDownload);

  ShowMessage(context, kMsgVerify);
  if (!VerifyHeader(context)) {
    ShowMessage(context, kMsgIdentFailed);
    return false;
  }
  ShowMessage(context, kMsgIdentSuccess);

  ShowMessage(context, kMsgTransfer);
  if (!SendPartitions(context, image)) {
    ShowMessage(context, kMsgTransferFailed);
    return false;
  }
  ShowMessage(context, kMsgTransferSuccess);

  ShowMessage(context, kMsgErase);
  if (!WaitPartitionResults(context, kMsgEraseSuccess, ReportPhase::kErase)) {
    ShowMessage(context, kMsgEraseFailed);
    return false;
  }
  ShowMessage(context, kMsgEraseSuccess);

  ShowMessage(context, kMsgProgram);
  if (!WaitPartitionResults(context, kMsgProgramSuccess, ReportPhase::kProgram)) {
    ShowMessage(context, kMsgProgramFailed);
    return false;
  }
  ShowMessage(context, kMsgProgramSuccess);
  return true;
}

}  // namespace vn

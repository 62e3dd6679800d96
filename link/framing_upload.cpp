// The PC's side of an upload: the box sends header, descriptors and data frames, the PC answers.
#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/file_at.h"
#include "link/framing.h"
#include "link/message_wait.h"

namespace vn {
namespace {

bool IsHeaderTag(uint8_t byte) {
  return byte == kHeaderTag;
}
bool IsDescriptorTag(uint8_t byte) {
  return byte == kDescriptorTag;
}
// A data frame ends its wait whatever it holds; its tests come afterwards.
bool AnyByte(uint8_t) {
  return true;
}
// With more behind them, blocks are taken only where their length and frames where their number
// say that they end there.
bool IsWholeHeader(const uint8_t* block) {
  return block[0] == kHeaderTag && block[1] == kHeaderLength;
}
bool IsWholeDescriptor(const uint8_t* block) {
  return block[0] == kDescriptorTag && block[1] == kDescriptorLength;
}
bool IsWholeDataFrame(const uint8_t* frame) {
  return frame[0] == STX && uint8_t(~frame[1]) == frame[2];
}

bool CrcMatches(const uint8_t* block, int from, int count, int crcAt) {
  return GetLe32(block + crcAt) == CalcCrc32(block + from, count);
}

}  // namespace

bool ReceiveHeaderBlock(ComPort& port, uint8_t* header71) {
  for (int attempt = 0; attempt < kHeaderAttempts; ++attempt) {
    switch (AwaitMessage(port, header71, kHeaderSize, IsHeaderTag, IsWholeHeader, kHeaderPolls)) {
      case WaitOutcome::kStopped:
        return false;
      case WaitOutcome::kTimedOut:
        SendNak(port);
        break;
      case WaitOutcome::kArrived:
        // The block arrived whole, so it is acknowledged; a wrong CRC then refuses the box's
        // header without a further attempt. The CRC does not cover the length field, and a
        // header with a wrong one would make a file that cannot be read back: refused alike.
        SendAck(port);
        if (header71[1] == kHeaderLength &&
            CrcMatches(header71, kHeaderCrcFrom, kHeaderCrcCount, kHeaderCrcAt)) {
          return true;
        }
        port.Tally().NoteFault(BoxFailureKind::kDamagedData);
        return false;
    }
  }
  return false;
}

bool SendReadRequest(ComPort& port, std::span<const UploadRegion> regions) {
  const auto request = BuildReadRequest(regions);
  for (int attempt = 0; attempt < kMaxFailuresInRow; ++attempt) {
    if (attempt > 0) port.Tally().Resent();
    if (!Transmit(port, request.data(), kReadRequestSize)) return false;
    if (WaitReplyByte(port) == ACK) return true;
  }
  return false;
}

bool ReceiveDescriptor(ComPort& port, uint8_t* descriptor26) {
  // The CRC does not cover the length field; a wrong one would make a file that cannot be read
  // back, so it fails the descriptor like a wrong CRC (NAK, and the box sends it again).
  if (AwaitMessage(port, descriptor26, kDescriptorSize, IsDescriptorTag, IsWholeDescriptor,
                   kDescriptorPolls) != WaitOutcome::kArrived) {
    return false;
  }
  if (descriptor26[1] == kDescriptorLength &&
      CrcMatches(descriptor26, kDescriptorCrcFrom, kDescriptorCrcCount, kDescriptorCrcAt)) {
    return true;
  }
  port.Tally().NoteFault(BoxFailureKind::kDamagedData);
  return false;
}

bool ReceiveDataFrame(ComPort& port, uint8_t* frame1024) {
  if (AwaitMessage(port, frame1024, kDataFrameSize, AnyByte, IsWholeDataFrame, kDataFramePolls) !=
      WaitOutcome::kArrived) {
    return false;
  }
  if (DataFramePasses(frame1024)) return true;
  port.Tally().NoteFault(BoxFailureKind::kDamagedData);
  return false;
}

bool ReceiveSection(ComPort& port, const PayloadSink& sink, int32_t blockSize, int& failures,
                    const FrameDone& onFrame) {
  if (blockSize < 0) return false;
  int32_t remaining = blockSize;
  DataFrame frame{};
  while (failures < kMaxFailuresInRow) {
    // A block cut short by a stop or a vanished port must not pass for a whole one.
    if (!port.PortOpened()) return false;
    const bool last = remaining <= kFramePayloadMax;
    const int32_t payload = last ? remaining : kFramePayloadMax;
    if (!ReceiveDataFrame(port, frame.data())) {
      SendNak(port);
      ++failures;  // the same frame is awaited again
      continue;
    }
    // Nothing is acknowledged that is not safely kept.
    if (!sink(std::span<const uint8_t>(frame.data() + kFramePayloadAt, size_t(payload)))) {
      return false;
    }
    remaining -= payload;
    failures = 0;
    SendAck(port);
    if (onFrame) onFrame(payload);
    if (last) return true;
  }
  return false;
}

bool ReceiveSection(ComPort& port, std::FILE* file, int64_t& position, int32_t blockSize,
                    int& failures, const FrameDone& onFrame) {
  const PayloadSink intoFile = [&](std::span<const uint8_t> payload) {
    if (!WriteFileAt(file, position, payload.data(), payload.size())) return false;
    position += int64_t(payload.size());
    return true;
  };
  return ReceiveSection(port, intoFile, blockSize, failures, onFrame);
}

}  // namespace vn

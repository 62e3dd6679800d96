// The PC's side of a download: header, descriptors and data frames go out, the box acknowledges.
#include <cstring>

#include "dld/byte_order.h"
#include "link/framing.h"

namespace vn {
namespace {

// Exactly `count` bytes of the image from `position` on; false when it holds fewer.
bool CopyFromImage(std::span<const uint8_t> image, int64_t position, uint8_t* destination,
                   size_t count) {
  if (position < 0 || uint64_t(position) > image.size() ||
      count > image.size() - size_t(position)) {
    return false;
  }
  std::memcpy(destination, image.data() + position, count);
  return true;
}

}  // namespace

bool SendHeaderBlock(ComPort& port, const uint8_t* header71) {
  int failures = 0;
  bool acknowledged = false;
  bool sentBefore = false;
  while (!acknowledged && failures < kMaxFailuresInRow && port.PortOpened() &&
         !port.Tally().Stalled()) {
    if (sentBefore) port.Tally().Resent();
    sentBefore = true;
    if (!Transmit(port, header71, kHeaderSize)) {
      ++failures;
      continue;
    }
    // The box may not be listening yet: the header goes out again after every unanswered wait,
    // for as long as it takes. Only failing writes end the loop.
    failures = 0;
    acknowledged = WaitReplyByte(port) == ACK;
    if (!acknowledged) failures = 1;
  }
  if (!acknowledged) return false;
  const int verdict = ReceiveCommand(port);
  if (verdict == kMsgIdentSuccess) return true;
  if (port.PortOpened()) {
    port.Tally().NoteFault(verdict == kMsgIdentFailed ? BoxFailureKind::kIdentityRefused
                                                      : BoxFailureKind::kUnexpectedAnswer);
  }
  return false;
}

bool SendDescriptor(ComPort& port, std::span<const uint8_t> image, int64_t& position) {
  uint8_t block[2 + 255];
  if (!CopyFromImage(image, position, block, 2) || block[0] != kDescriptorTag) return false;
  // Sent as stored, whatever length the block gives itself.
  const int32_t size = 2 + block[1];
  if (!CopyFromImage(image, position, block, size_t(size))) return false;
  if (!Transmit(port, block, size) || WaitReplyByte(port) != ACK) return false;
  position += size;
  return true;
}

bool SendDataFrame(ComPort& port, std::span<const uint8_t> image, int64_t& position,
                   int32_t payloadCount, int frameNumber) {
  if (payloadCount < 0 || payloadCount > kFramePayloadMax) return false;
  uint8_t payload[kFramePayloadMax];
  if (!CopyFromImage(image, position, payload, size_t(payloadCount))) return false;
  const DataFrame frame =
      BuildDataFrame(uint8_t(frameNumber), std::span<const uint8_t>(payload, size_t(payloadCount)));
  if (!Transmit(port, frame.data(), kDataFrameSize) || WaitReplyByte(port) != ACK) {
    return false;
  }
  position += payloadCount;
  return true;
}

bool SendSection(ComPort& port, std::span<const uint8_t> image, int64_t& position, int& frameNumber,
                 const FrameDone& onFrame) {
  uint8_t head[4];
  // An image that ends here is cut short: its last partition has lost its data.
  if (!CopyFromImage(image, position, head, 1)) return false;
  // Another block at the position (a partition without data): nothing to send.
  if (head[0] != kDataTag) return true;
  if (!CopyFromImage(image, position, head, 4)) return false;
  // The tag and the count travel with the block as its first four bytes.
  const int64_t end = position + 4 + GetLe24(head + 1);
  int failures = 0;
  bool lastSent = false;
  while (!lastSent && failures < kMaxFailuresInRow && port.PortOpened()) {
    // A frame with less than a full payload ends the block, so a block of an exact multiple of
    // 1020 bytes ends with an empty frame.
    const int64_t remaining = end - position;
    const bool last = remaining < kFramePayloadMax;
    const int32_t payload = last ? int32_t(remaining) : kFramePayloadMax;
    if (!SendDataFrame(port, image, position, payload, frameNumber)) {
      ++failures;  // the same frame, with the same number, goes again
      if (failures < kMaxFailuresInRow) port.Tally().Resent();
      continue;
    }
    ++frameNumber;
    failures = 0;
    lastSent = last;
    if (onFrame) onFrame(payload);
  }
  return lastSent;
}

}  // namespace vn

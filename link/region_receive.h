#pragma once
// The box's answer to a read request, as an upload and a verify both take it: for every region
// asked for, its descriptor (NAK and await it again when damaged), then its data block in frames,
// with the resends and the ten-failures-in-a-row limit of the protocol. What becomes of the
// bytes is the receiver's: a file for an upload, a comparison for a verify.
#include <span>

#include "dld/blocks.h"
#include "dld/region_sets.h"
#include "link/transfer_context.h"

namespace vn {

class RegionReceiver {
 public:
  virtual ~RegionReceiver() = default;
  // A descriptor that passed its checks, acknowledged, before its block. False ends the transfer.
  virtual bool TakeDescriptor(FILE_PARTITION_HEADER_T& descriptor) = 0;
  // Each accepted frame's payload of the block, in order, before its ACK. False ends the transfer.
  virtual bool TakePayload(std::span<const uint8_t> payload) = 0;
  // The block is complete. False ends the transfer (a block that does not belong to its
  // descriptor).
  virtual bool TakeBlock(const FILE_PARTITION_HEADER_T& descriptor) = 0;
};

// Hands every region to two receivers: what both refuse ends the transfer.
class BothReceivers : public RegionReceiver {
 public:
  BothReceivers(RegionReceiver& first, RegionReceiver& second) : first_(first), second_(second) {}
  bool TakeDescriptor(FILE_PARTITION_HEADER_T& descriptor) override {
    FILE_PARTITION_HEADER_T asSent = descriptor;
    return first_.TakeDescriptor(descriptor) && second_.TakeDescriptor(asSent);
  }
  bool TakePayload(std::span<const uint8_t> payload) override {
    return first_.TakePayload(payload) && second_.TakePayload(payload);
  }
  bool TakeBlock(const FILE_PARTITION_HEADER_T& descriptor) override {
    return first_.TakeBlock(descriptor) && second_.TakeBlock(descriptor);
  }

 private:
  RegionReceiver& first_;
  RegionReceiver& second_;
};

// Sends the read request for `regions` and receives as many regions as it names, showing the
// transfer's progress. False when the request went unanswered, ten failures in a row, a stop or a
// vanished port ended it, or the receiver refused something.
bool ReceiveRegions(TransferContext& context, std::span<const UploadRegion> regions,
                    RegionReceiver& receiver);

}  // namespace vn

#include "link/region_receive.h"

#include "dld/byte_order.h"
#include "link/framing.h"

namespace vn {

bool ReceiveRegions(TransferContext& context, std::span<const UploadRegion> regions,
                    RegionReceiver& receiver) {
  if (!SendReadRequest(context.port, regions)) return false;
  const int count = int(regions.size());
  int64_t done = 0;
  int failures = 0;
  const FrameDone onFrame = [&](int32_t payload) {
    done += payload;
    ShowBytes(context, done, 0);
  };
  const PayloadSink sink = [&](std::span<const uint8_t> payload) {
    return receiver.TakePayload(payload);
  };
  for (int part = 1; part <= count && failures < kMaxFailuresInRow;) {
    // A transfer cut short by a stop or a vanished port is no answer.
    if (!context.port.PortOpened()) return false;
    FILE_PARTITION_HEADER_T descriptor{};
    if (!ReceiveDescriptor(context.port, BytesOf(descriptor))) {
      ++failures;
      SendNak(context.port);
      continue;
    }
    failures = 0;
    SendAck(context.port);
    if (!receiver.TakeDescriptor(descriptor)) return false;
    done += kDescriptorSize;

    context.progress.ProgressStep(count, 1);
    ShowPercent(context, Phase::kTransfer, part, count);

    const int32_t blockSize = int32_t(GetLe24(descriptor.compressedLength)) + kDataBlockOverhead;
    if (!ReceiveSection(context.port, sink, blockSize, failures, onFrame)) return false;
    if (!receiver.TakeBlock(descriptor)) {
      context.port.Tally().NoteFault(BoxFailureKind::kDamagedData);
      return false;
    }
    ++part;
  }
  return failures < kMaxFailuresInRow && context.port.PortOpened();
}

}  // namespace vn

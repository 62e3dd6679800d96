#include "link/transfer_context.h"

namespace vn {

void ShowMessage(TransferContext& context, int index) {
  if (LinkMessageText(index)) context.observer.OnEvent(MessageEvent(index));
}

void ShowPercent(TransferContext& context, Phase phase, int part, int count) {
  context.observer.OnEvent(PercentEvent(phase, part, count));
}

void ShowBytes(TransferContext& context, int64_t done, int64_t total) {
  LinkEvent event;
  event.kind = EventKind::kBytes;
  event.phase = Phase::kTransfer;
  event.bytesDone = done;
  event.bytesTotal = total;
  context.observer.OnEvent(event);
}

}  // namespace vn

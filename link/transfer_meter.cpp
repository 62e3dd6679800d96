#include "link/transfer_meter.h"

namespace vn {

void TransferMeter::OnEvent(const LinkEvent& event, Clock::time_point now) {
  if (event.box != box_) {
    *this = TransferMeter{};
    box_ = event.box;
  }
  if (event.phase != Phase::kTransfer) return;
  const int64_t moved = event.link.bytesSent + event.link.bytesReceived;
  if (!started_) {
    started_ = true;
    start_ = now;
    startBytes_ = moved;
  }
  last_ = now;
  lastBytes_ = moved;
}

double TransferMeter::Seconds() const {
  return started_ ? std::chrono::duration<double>(last_ - start_).count() : 0.0;
}

double TransferMeter::LineShare() const {
  const double seconds = Seconds();
  // Under a tenth of a second the ratio says more about the clock than about the line.
  if (seconds < 0.1) return 0.0;
  return double(lastBytes_ - startBytes_) / kLineBytesPerSecond / seconds;
}

}  // namespace vn

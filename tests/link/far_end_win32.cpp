// The system rig on Windows: two COM ports joined outside the test, named by the environment
// variable VESPANODE_TEST_COM_PAIR ("COM3,COM4"). Under Wine each is mapped to one end of a linked
// pair of pseudo-terminals. The port under test opens the first; the far end is the same port
// class on the second, so every byte crosses the Win32 layer twice.
#include <algorithm>
#include <cstdlib>

#include "far_end.h"
#include "link/system_port.h"

namespace vn::testing {
namespace {

class ComFarEnd final : public FarEnd {
 public:
  explicit ComFarEnd(std::unique_ptr<ComPort> end) : end_(std::move(end)) {}

  void Send(const Bytes& bytes) override {
    for (size_t sent = 0; sent < bytes.size();) {
      const int32_t chunk = int32_t(std::min<size_t>(bytes.size() - sent, kMaxTransfer));
      if (end_->ComWrite(bytes.data() + sent, chunk) != chunk) return;
      sent += size_t(chunk);
    }
  }

  // Takes whatever is waiting, since the port reads only an exact count; more than the test
  // expects is a failure.
  std::optional<Bytes> Receive(size_t count, std::chrono::milliseconds guard) override {
    const auto readWaiting = [&](uint8_t* into, size_t most) -> int64_t {
      const int32_t waiting = end_->BytesWaiting();
      if (waiting < 0 || size_t(waiting) > most) return -1;
      return waiting > 0 && end_->ComReadExact(into, waiting) == waiting ? waiting : 0;
    };
    return ReceiveWithin(count, guard, readWaiting, [&] { end_->WaitForInput(10ms); });
  }

  // Closing the far port leaves the line to the port under test in place.
  void Vanish() override { end_->CloseComPort(); }
  bool CanVanish() const override { return false; }

 private:
  std::unique_ptr<ComPort> end_;
};

}  // namespace

Rig MakeSystemRig() {
  Rig rig;
  const char* pair = std::getenv("VESPANODE_TEST_COM_PAIR");
  const std::string names = pair != nullptr ? pair : "";
  const size_t comma = names.find(',');
  if (comma == std::string::npos) return rig;
  auto far = MakeSystemComPort();
  if (!far->OpenComPort(names.substr(comma + 1))) return rig;
  rig.slavePath = names.substr(0, comma);
  rig.far = std::make_unique<ComFarEnd>(std::move(far));
  rig.port = std::make_unique<CountingPort>(MakeSystemComPort());
  rig.port->OpenComPort(rig.slavePath);
  return rig;
}

}  // namespace vn::testing

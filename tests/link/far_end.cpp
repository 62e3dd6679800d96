#include "far_end.h"

#include <thread>

#include "support/memory_port.h"

namespace vn::testing {
namespace {

using Clock = std::chrono::steady_clock;

class MemoryFarEnd final : public FarEnd {
 public:
  explicit MemoryFarEnd(std::unique_ptr<MemoryPort> end) : end_(std::move(end)) {}

  void Send(const Bytes& bytes) override { end_->WriteRaw(bytes.data(), int32_t(bytes.size())); }

  std::optional<Bytes> Receive(size_t count, std::chrono::milliseconds guard) override {
    return ReceiveWithin(
        count, guard,
        [&](uint8_t* into, size_t most) { return end_->ComReadSome(into, int32_t(most)); },
        [&] { end_->WaitForInput(10ms); });
  }

  void Vanish() override { end_->CloseComPort(); }

 private:
  std::unique_ptr<MemoryPort> end_;
};

Rig MakeMemoryRig() {
  auto [pc, box] = MemoryPort::MakePair();
  Rig rig;
  rig.port = std::make_unique<CountingPort>(std::move(pc));
  rig.far = std::make_unique<MemoryFarEnd>(std::move(box));
  return rig;
}

}  // namespace

Rig MakeRig(const std::string& kind) {
  return kind == "memory" ? MakeMemoryRig() : MakeSystemRig();
}

std::optional<Bytes> ReceiveWithin(size_t count, std::chrono::milliseconds guard,
                                   const std::function<int64_t(uint8_t*, size_t)>& readSome,
                                   const std::function<void()>& wait) {
  Bytes bytes(count);
  size_t got = 0;
  const auto deadline = Clock::now() + guard;
  while (got < count && Clock::now() < deadline) {
    const int64_t n = readSome(bytes.data() + got, count - got);
    if (n < 0) break;
    got += size_t(n);
    if (got < count) wait();
  }
  if (got < count) return std::nullopt;
  return bytes;
}

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds guard) {
  const auto deadline = Clock::now() + guard;
  while (!condition()) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

}  // namespace vn::testing

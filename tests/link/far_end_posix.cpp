// The system rig on POSIX: the port under test on the slave side of a fresh pseudo-terminal,
// the far end on its master side.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

#include "far_end.h"
#include "link/system_port.h"

namespace vn::testing {
namespace {

class PtyFarEnd final : public FarEnd {
 public:
  explicit PtyFarEnd(int master, int slave) : master_(master), slave_(slave) {}
  ~PtyFarEnd() override { Vanish(); }

  void Send(const Bytes& bytes) override {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::write(master_, bytes.data() + sent, bytes.size() - sent);
      if (n > 0) {
        sent += size_t(n);
      } else {
        pollfd p{master_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0) return;
      }
    }
  }

  // A failed read counts as nothing yet: the master sees no hang-up while the rig holds the slave.
  std::optional<Bytes> Receive(size_t count, std::chrono::milliseconds guard) override {
    return ReceiveWithin(
        count, guard,
        [&](uint8_t* into, size_t most) {
          return std::max<int64_t>(::read(master_, into, most), 0);
        },
        [&] {
          pollfd p{master_, POLLIN, 0};
          ::poll(&p, 1, 10);
        });
  }

  void Vanish() override {
    if (master_ >= 0) ::close(master_);
    if (slave_ >= 0) ::close(slave_);
    master_ = slave_ = -1;
  }

 private:
  int master_;
  int slave_;
};

}  // namespace

Rig MakeSystemRig() {
  Rig rig;
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return rig;
  rig.slavePath = ::ptsname(master);
  // The rig keeps the slave open too, so the master never sees a hang-up while the port under
  // test closes and reopens. The line stays as the system made it (cooked): the port under test
  // has to make it carry every byte.
  rig.slaveFd = ::open(rig.slavePath.c_str(), O_RDWR | O_NOCTTY);
  rig.far = std::make_unique<PtyFarEnd>(master, rig.slaveFd);
  rig.port = std::make_unique<CountingPort>(MakeSystemComPort());
  rig.port->OpenComPort(rig.slavePath);
  return rig;
}

}  // namespace vn::testing

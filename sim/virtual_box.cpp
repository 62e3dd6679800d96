#include "sim/virtual_box.h"

namespace vn {

struct VirtualBox::State {
  BoxOptions options;
  BoxStats stats;
};

VirtualBox::VirtualBox(BoxOptions options) : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
}
VirtualBox::~VirtualBox() { Stop(); }
bool VirtualBox::Start() {
  state_->stats.lastError = "not implemented yet";
  return false;
}
const std::string& VirtualBox::PtyPath() const { return ptyPath_; }
void VirtualBox::Stop() {}
bool VirtualBox::WaitSessions(int, std::chrono::milliseconds) { return false; }
bool VirtualBox::Running() const { return false; }
std::vector<uint8_t> VirtualBox::FlashCopy() const { return {}; }
BoxStats VirtualBox::Stats() const { return state_->stats; }

}  // namespace vn

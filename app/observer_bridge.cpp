#include "app/observer_bridge.h"

namespace vn {

void ObserverBridge::OnStatus(const std::string& text) {
  emit Status(Run(), QString::fromStdString(text));
}

void ObserverBridge::OnProgress(int position, int maximum) {
  emit Progress(Run(), position, maximum);
}

void ObserverBridge::OnControlsEnabled(bool enabled) {
  emit ControlsEnabled(Run(), enabled);
}

void ObserverBridge::OnErrorBox(const std::string& text) {
  emit ErrorBox(Run(), QString::fromStdString(text));
}

void ObserverBridge::OnDetail(const std::string& text) {
  emit Detail(Run(), QString::fromStdString(text));
}

}  // namespace vn

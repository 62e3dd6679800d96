#pragma once
// What the link, the transfers and the operation driver report to whoever shows them: the window,
// the command line, or a test. Calls come from the thread running the operation.
#include <cstdint>
#include <string>

namespace vn {

class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  // One status text at a time, exactly as the status line shows it.
  virtual void OnStatus(const std::string& text) = 0;
  // The progress bar: position within 0..maximum.
  virtual void OnProgress(int position, int maximum) = 0;
  // The transfers disable the port list, the operation list, Open and Start while they run;
  // the driver enables them again afterwards.
  virtual void OnControlsEnabled(bool /*enabled*/) {}
  // Bytes of data blocks moved so far out of the operation's total (0 when unknown), for rate and
  // time-left displays.
  virtual void OnBytes(int64_t /*done*/, int64_t /*total*/) {}
  // A failure the window shows in a modal error box ("I/O error 13"); the command line prints it.
  virtual void OnErrorBox(const std::string& /*text*/) {}
  // What the status texts cannot say: the system's reason for a failure, and what it left on
  // disk ("the data received so far is in key.dld.partial"). The command line prints it on
  // standard error; the window shows it as the status line's tooltip.
  virtual void OnDetail(const std::string& /*text*/) {}
};

// An observer that ignores everything.
class NullObserver : public LinkObserver {
 public:
  void OnStatus(const std::string&) override {}
  void OnProgress(int, int) override {}
};

}  // namespace vn

#pragma once
// What the link, the transfers and the operation driver report to whoever shows them: the window,
// the command line, or a test. Calls come from the thread running the operation.
#include <string>

#include "link/link_event.h"

namespace vn {

class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  // Every step, status text, progress and byte count of a run, in order.
  virtual void OnEvent(const LinkEvent& event) = 0;
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
  void OnEvent(const LinkEvent&) override {}
};

}  // namespace vn

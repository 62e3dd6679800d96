#pragma once
// What the link, the transfers and the operation driver report to whoever shows them: the window,
// the command line, or a test. Calls come from the thread running the operation.
#include <string>

#include "link/box_outcome.h"
#include "link/link_event.h"

namespace vn {

class LinkObserver {
 public:
  virtual ~LinkObserver() = default;
  // Every step, status text, progress and byte count of a run, in order.
  virtual void OnEvent(const LinkEvent& event) = 0;
  // A failure the window shows in a modal error box ("I/O error 13"); the command line prints it.
  virtual void OnErrorBox(const std::string& /*text*/) {}
  // What the status texts cannot say: what a run left on disk ("the data received so far is in
  // key.dld.partial"), why a start was refused. The command line prints it on standard error;
  // the window shows it as the status line's tooltip. A failure's own reason comes typed, with
  // its kFailure event and the box's outcome.
  virtual void OnDetail(const std::string& /*text*/) {}
  // A box has ended: how, once, after its last event. Boxes that never came (a stop or a lost
  // port while waiting for one) have no outcome.
  virtual void OnBoxEnd(const BoxOutcome& /*outcome*/) {}
};

// An observer that ignores everything.
class NullObserver : public LinkObserver {
 public:
  void OnEvent(const LinkEvent&) override {}
};

}  // namespace vn

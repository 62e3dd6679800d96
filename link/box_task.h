#pragma once
// An operation the operation driver runs on each box in place of the window's download or
// upload: a verify that reads a file's regions back, an identify that only takes the box's
// header. The driver connects, runs the task, and counts, pauses and repeats as for a download.
#include "link/link_event.h"
#include "link/transfer_context.h"

namespace vn {

class BoxTask {
 public:
  virtual ~BoxTask() = default;
  // The regions the task asks of each box (the context's N).
  virtual int PartitionCount() const = 0;
  // Runs on one box once it has sent its ready frame; true when the box passed. It reports every
  // step through the context's observer, its failure included.
  virtual bool Run(TransferContext& context) = 0;
  // What a box that passed shows last, as "Update Success!" does for a download.
  virtual LinkEvent DoneEvent() const = 0;
};

}  // namespace vn

#pragma once
// An operation the operation driver runs on each box in place of the window's download or
// upload: a verify that reads a file's regions back, an identify that only takes the box's
// header. The driver connects, runs the task, and counts, pauses and repeats as for a download.
#include <optional>

#include "link/link_event.h"
#include "link/transfer_context.h"

namespace vn {

// The regions a verify compared on a box, and how many of them differed from the file.
struct RegionCounts {
  int checked = 0;
  int differing = 0;
};

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
  // For a task that compares regions: the current or last box's counts; nullopt for any other.
  // Safe from the thread that runs the task.
  virtual std::optional<RegionCounts> Regions() const { return std::nullopt; }
};

}  // namespace vn

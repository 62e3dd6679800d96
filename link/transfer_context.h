#pragma once
// What the two transfers share with the operation driver for one run.
#include <string>

#include "dld/blocks.h"
#include "link/com_port.h"
#include "link/link_message.h"
#include "link/link_observer.h"
#include "link/progress.h"

namespace vn {

struct TransferContext {
  ComPort& port;
  LinkObserver& observer;
  Progress& progress;
  FILE_DOWNLOAD_HEADER_T& header;  // the current download header
  std::string programDir;          // folder of the scratch file
  int partitionCount = 0;          // N of the running operation
};

// Shows the status text of a LinkMessage index (indexes without a text show nothing).
void ShowMessage(TransferContext& context, int index);
// Region `part` of `count` done in `phase`, with its percentage line.
void ShowPercent(TransferContext& context, Phase phase, int part, int count);
// Data bytes moved so far out of the operation's total (0 when unknown).
void ShowBytes(TransferContext& context, int64_t done, int64_t total);

}  // namespace vn

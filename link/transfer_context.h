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
// "Transfering Data:  50%": the prefix, then p * 100 / n truncated, then "%".
std::string PercentText(const char* prefix, int part, int count);

inline constexpr const char* kTransferPercentPrefix = "Transfering Data:  ";
inline constexpr const char* kErasePercentPrefix = "Erase flash...  ";
inline constexpr const char* kProgramPercentPrefix = "Program flash...  ";

}  // namespace vn

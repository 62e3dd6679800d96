#pragma once
// Reading one region set out of the box into a new upgrade file.
#include <cstdio>
#include <string>

#include "dld/region_sets.h"
#include "link/transfer_context.h"
#include "platform/failure.h"

namespace vn {

class RegionReceiver;

// True after "Transfer Success!" and a completed total size. `alsoTo`, when given, is handed every
// region as well as the file (a verify that saves what it read).
bool UploadFromBox(TransferContext& context, const std::string& fileName, const RegionSet& set,
                   RegionReceiver* alsoTo = nullptr);
// Receives the box's header, sets the set's kind code, N and a zero total size, and writes it at
// offset 0. A header that came but could not be written leaves `writeFailure` in the system's
// words; a missing or damaged header leaves it kNone.
bool StoreBoxHeader(TransferContext& context, std::FILE* file, const RegionSet& set,
                    Failure& writeFailure);
// Sends the read request for the set and stores the N regions the box sends.
bool ReceivePartitions(TransferContext& context, std::FILE* file, const RegionSet& set,
                       RegionReceiver* alsoTo = nullptr);

}  // namespace vn

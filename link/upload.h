#pragma once
// Reading one region set out of the box into a new upgrade file.
#include <cstdio>
#include <string>

#include "link/transfer_context.h"
#include "platform/failure.h"

namespace vn {

// True after "Transfer Success!" and a completed total size. `operation` is the list position
// (1..6) of the region set.
bool UploadFromBox(TransferContext& context, const std::string& fileName, int operation);
// Receives the box's header, sets kind code, N and a zero total size, and writes it at offset 0.
// A header that came but could not be written leaves `writeFailure` in the system's words; a
// missing or damaged header leaves it kNone.
bool StoreBoxHeader(TransferContext& context, std::FILE* file, Failure& writeFailure);
// Sends the read request and stores the N regions the box sends.
bool ReceivePartitions(TransferContext& context, std::FILE* file, int operation);

}  // namespace vn

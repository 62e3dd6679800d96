#pragma once
// The LinkMessage vocabulary: an index 0..26 that names a status text and, for some indexes, a
// command frame (code, sub).
#include <cstdint>
#include <optional>

#include "link/wire_format.h"

namespace vn {

enum LinkMessageIndex : int {
  kMsgConnecting = 0,        // "Connectting..."; box's ready frame 0x01
  kMsgConnectFailed = 1,
  kMsgConnectSuccess = 2,
  kMsgVerify = 4,
  kMsgIdentFailed = 5,       // 0x03, 0x00
  kMsgIdentSuccess = 6,      // 0x03, non-zero
  kMsgTransfer = 7,
  kMsgTransferFailed = 8,
  kMsgTransferSuccess = 9,
  kMsgErase = 10,
  kMsgEraseFailed = 11,      // 0x05, 0x00
  kMsgEraseSuccess = 12,     // 0x05, non-zero
  kMsgProgram = 13,
  kMsgProgramFailed = 14,    // 0x06, 0x00
  kMsgProgramSuccess = 15,   // 0x06, non-zero
  kMsgUpdateFailed = 23,
  kMsgUpdateSuccess = 24,
  kMsgStartUpload = 25,      // 0x09
  kMsgStartDownload = 26,    // 0x0A
};

inline constexpr int kLinkMessageCount = 27;

// The status text of an index; nullptr for indexes without one (3, 25, 26) and out of range.
const char* LinkMessageText(int index);
// The command frame of an index; nullopt for text-only indexes.
std::optional<CommandFrame> CommandFrameOf(int index);
// Index of a received 4-byte command frame (first byte STX, fourth ignored), or -1.
int DecodeCommand(const uint8_t* frame);

}  // namespace vn

#pragma once
// The LinkMessage vocabulary: an index 0..26 that names a status text and, for some indexes, a
// command frame (code, sub), a phase, and whether it tells of a step that went right or wrong.
// One table in link_message.cpp holds all of it; every lookup below reads that table.
#include <cstdint>
#include <optional>

#include "link/phase.h"
#include "link/wire_format.h"

namespace vn {

enum LinkMessageIndex : int {
  kMsgConnecting = 0,  // "Connectting..."; box's ready frame 0x01
  kMsgConnectFailed = 1,
  kMsgConnectSuccess = 2,
  kMsgSpareFrame = 3,  // 0x02, no text; in the table, never used in a dialogue
  kMsgVerify = 4,
  kMsgIdentFailed = 5,   // 0x03, 0x00
  kMsgIdentSuccess = 6,  // 0x03, non-zero
  kMsgTransfer = 7,
  kMsgTransferFailed = 8,
  kMsgTransferSuccess = 9,
  kMsgErase = 10,
  kMsgEraseFailed = 11,   // 0x05, 0x00
  kMsgEraseSuccess = 12,  // 0x05, non-zero
  kMsgProgram = 13,
  kMsgProgramFailed = 14,   // 0x06, 0x00
  kMsgProgramSuccess = 15,  // 0x06, non-zero
  // 16..22: a feature the tool does not offer; never sent, awaited or shown.
  kMsgSpareUpdateStart = 16,    // 0x0B
  kMsgSpareDownloadStart = 20,  // 0x0C
  kMsgUpdateFailed = 23,
  kMsgUpdateSuccess = 24,
  kMsgStartUpload = 25,    // 0x09
  kMsgStartDownload = 26,  // 0x0A
};

inline constexpr int kLinkMessageCount = 27;

// The status text of an index; nullptr for indexes without one (3, 25, 26) and out of range.
const char* LinkMessageText(int index);
// The command frame of an index; nullopt for text-only indexes.
std::optional<CommandFrame> CommandFrameOf(int index);
// Index of a received 4-byte command frame (first byte STX, fourth ignored), or -1.
int DecodeCommand(const uint8_t* frame);
// The phase a message belongs to; kNone for those outside the five steps, and out of range.
Phase PhaseOfMessage(int index);
// "... failed!" messages: the pass failed there.
bool IsFailureMessage(int index);
// "... Success!" messages: a step went right.
bool IsSuccessMessage(int index);

}  // namespace vn

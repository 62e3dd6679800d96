#include "link/link_message.h"

namespace vn {
namespace {

struct MessageEntry {
  const char* text;  // nullptr: no status text
  bool hasFrame;
  uint8_t code;
  uint8_t sub;
};

constexpr MessageEntry kMessages[kLinkMessageCount] = {
    {"Connectting...", true, kCodeReady, 0x00},
    {"Connect failed!", false, 0, 0},
    {"Connect Success!", false, 0, 0},
    {nullptr, true, 0x02, 0x00},
    {"Verify...", false, 0, 0},
    {"Ident check failed!", true, kCodeIdent, 0x00},
    {"Ident check Success!", true, kCodeIdent, 0x01},
    {"Transfer...", true, 0x04, 0x00},
    {"Transfer failed!", false, 0, 0},
    {"Transfer Success!", false, 0, 0},
    {"Erase flash...", false, 0, 0},
    {"Erase flash failed!", true, kCodeErase, 0x00},
    {"Erase flash Success!", true, kCodeErase, 0x01},
    {"Program flash...", false, 0, 0},
    {"Program flash failed!", true, kCodeProgram, 0x00},
    {"Program flash Success!", true, kCodeProgram, 0x01},
    {"SatcoDX Update start!", true, 0x0B, 0x00},
    {"SatcoDX Update failed!", false, 0, 0},
    {"Inputting SatcoDX file, please wait...", false, 0, 0},
    {"SatcoDX Update Success!", false, 0, 0},
    {"SatcoDX Download start!", true, 0x0C, 0x00},
    {"SatcoDX Download failed!", false, 0, 0},
    {"SatcoDX Download Success!", false, 0, 0},
    {"Update failed!", true, 0x08, 0x00},
    {"Update Success!", true, 0x08, 0x01},
    {nullptr, true, kCodeUpload, 0x00},
    {nullptr, true, kCodeDownload, 0x00},
};

bool InRange(int index) {
  return index >= 0 && index < kLinkMessageCount;
}

}  // namespace

const char* LinkMessageText(int index) {
  return InRange(index) ? kMessages[index].text : nullptr;
}

std::optional<CommandFrame> CommandFrameOf(int index) {
  if (!InRange(index) || !kMessages[index].hasFrame) return std::nullopt;
  return MakeCommandFrame(kMessages[index].code, kMessages[index].sub);
}

int DecodeCommand(const uint8_t* frame) {
  const bool subSet = frame[2] != 0;
  switch (frame[1]) {
    case kCodeReady:
      return kMsgConnecting;
    case 0x02:
      return 3;
    case kCodeIdent:
      return subSet ? kMsgIdentSuccess : kMsgIdentFailed;
    case 0x04:
      return kMsgTransfer;
    case kCodeErase:
      return subSet ? kMsgEraseSuccess : kMsgEraseFailed;
    case kCodeProgram:
      return subSet ? kMsgProgramSuccess : kMsgProgramFailed;
    case kCodeUpload:
      return kMsgStartUpload;
    case kCodeDownload:
      return kMsgStartDownload;
    case 0x0B:
      return 16;
    case 0x0C:
      return 20;
    default:  // 0x00, 0x07, 0x08 (only ever encoded) and everything above 0x0C
      return -1;
  }
}

}  // namespace vn

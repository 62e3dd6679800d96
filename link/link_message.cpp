#include "link/link_message.h"

namespace vn {
namespace {

// What a row's command frame is for.
enum class FrameUse {
  kNone,        // no frame
  kCommand,     // sent or received; a received one decodes to the row
  kEncodeOnly,  // only ever sent: a received one decodes to -1
};

struct RowFrame {
  FrameUse use;
  uint8_t code;
  uint8_t sub;
};

constexpr RowFrame kTextOnly{FrameUse::kNone, 0, 0};
constexpr RowFrame Command(uint8_t code, uint8_t sub) {
  return {FrameUse::kCommand, code, sub};
}
constexpr RowFrame EncodeOnly(uint8_t code, uint8_t sub) {
  return {FrameUse::kEncodeOnly, code, sub};
}

enum class Outcome { kPlain, kSuccess, kFailure };

struct MessageRow {
  int index;
  const char* text;  // nullptr: no status text
  RowFrame frame;
  Phase phase;
  Outcome outcome;
};

using enum Outcome;
constexpr Phase kConnect = Phase::kConnect, kVerify = Phase::kVerify, kTransfer = Phase::kTransfer,
                kErase = Phase::kErase, kProgram = Phase::kProgram, kNoPhase = Phase::kNone;

// The vocabulary, one row per index: status text, command frame, phase, outcome.
constexpr MessageRow kMessages[] = {
    {kMsgConnecting, "Connectting...", Command(kCodeReady, 0x00), kConnect, kPlain},
    {kMsgConnectFailed, "Connect failed!", kTextOnly, kConnect, kFailure},
    {kMsgConnectSuccess, "Connect Success!", kTextOnly, kConnect, kSuccess},
    {kMsgSpareFrame, nullptr, Command(0x02, 0x00), kNoPhase, kPlain},
    {kMsgVerify, "Verify...", kTextOnly, kVerify, kPlain},
    {kMsgIdentFailed, "Ident check failed!", Command(kCodeIdent, 0x00), kVerify, kFailure},
    {kMsgIdentSuccess, "Ident check Success!", Command(kCodeIdent, 0x01), kVerify, kSuccess},
    {kMsgTransfer, "Transfer...", Command(0x04, 0x00), kTransfer, kPlain},
    {kMsgTransferFailed, "Transfer failed!", kTextOnly, kTransfer, kFailure},
    {kMsgTransferSuccess, "Transfer Success!", kTextOnly, kTransfer, kSuccess},
    {kMsgErase, "Erase flash...", kTextOnly, kErase, kPlain},
    {kMsgEraseFailed, "Erase flash failed!", Command(kCodeErase, 0x00), kErase, kFailure},
    {kMsgEraseSuccess, "Erase flash Success!", Command(kCodeErase, 0x01), kErase, kSuccess},
    {kMsgProgram, "Program flash...", kTextOnly, kProgram, kPlain},
    {kMsgProgramFailed, "Program flash failed!", Command(kCodeProgram, 0x00), kProgram, kFailure},
    {kMsgProgramSuccess, "Program flash Success!", Command(kCodeProgram, 0x01), kProgram, kSuccess},
    {kMsgSpareUpdateStart, "SatcoDX Update start!", Command(0x0B, 0x00), kNoPhase, kPlain},
    {17, "SatcoDX Update failed!", kTextOnly, kNoPhase, kPlain},
    {18, "Inputting SatcoDX file, please wait...", kTextOnly, kNoPhase, kPlain},
    {19, "SatcoDX Update Success!", kTextOnly, kNoPhase, kPlain},
    {kMsgSpareDownloadStart, "SatcoDX Download start!", Command(0x0C, 0x00), kNoPhase, kPlain},
    {21, "SatcoDX Download failed!", kTextOnly, kNoPhase, kPlain},
    {22, "SatcoDX Download Success!", kTextOnly, kNoPhase, kPlain},
    {kMsgUpdateFailed, "Update failed!", EncodeOnly(0x08, 0x00), kNoPhase, kFailure},
    {kMsgUpdateSuccess, "Update Success!", EncodeOnly(0x08, 0x01), kNoPhase, kSuccess},
    {kMsgStartUpload, nullptr, Command(kCodeUpload, 0x00), kNoPhase, kPlain},
    {kMsgStartDownload, nullptr, Command(kCodeDownload, 0x00), kNoPhase, kPlain},
};

constexpr bool RowsStandAtTheirIndex() {
  int at = 0;
  for (const MessageRow& row : kMessages) {
    if (row.index != at++) return false;
  }
  return at == kLinkMessageCount;
}
static_assert(RowsStandAtTheirIndex(), "one row per index, in order");

const MessageRow* RowOf(int index) {
  return index >= 0 && index < kLinkMessageCount ? &kMessages[index] : nullptr;
}

}  // namespace

const char* LinkMessageText(int index) {
  const MessageRow* row = RowOf(index);
  return row ? row->text : nullptr;
}

std::optional<CommandFrame> CommandFrameOf(int index) {
  const MessageRow* row = RowOf(index);
  if (!row || row->frame.use == FrameUse::kNone) return std::nullopt;
  return MakeCommandFrame(row->frame.code, row->frame.sub);
}

int DecodeCommand(const uint8_t* frame) {
  // A code with a refused and an accepted row (sub 0 and 1) reads the sub byte as zero or not;
  // a code with one row ignores it.
  int sameCode = -1;
  for (const MessageRow& row : kMessages) {
    if (row.frame.use != FrameUse::kCommand || row.frame.code != frame[1]) continue;
    if ((row.frame.sub != 0) == (frame[2] != 0)) return row.index;
    sameCode = row.index;
  }
  return sameCode;
}

Phase PhaseOfMessage(int index) {
  const MessageRow* row = RowOf(index);
  return row ? row->phase : Phase::kNone;
}

bool IsFailureMessage(int index) {
  const MessageRow* row = RowOf(index);
  return row && row->outcome == kFailure;
}

bool IsSuccessMessage(int index) {
  const MessageRow* row = RowOf(index);
  return row && row->outcome == kSuccess;
}

}  // namespace vn

#include "link/identify.h"

#include <cstdio>

#include "dld/byte_order.h"
#include "dld/file_identity.h"
#include "link/framing.h"

namespace vn {
namespace {

// A text field as it stands, bytes outside printable ASCII written as \xNN.
std::string Shown(const std::string& text) {
  std::string shown;
  for (const unsigned char c : text) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      shown += char(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      shown += escaped;
    }
  }
  return shown;
}

void Report(TransferContext& context, std::string text) {
  LinkEvent event = StatusEvent(std::move(text), EventKind::kReport);
  event.phase = Phase::kVerify;
  context.observer.OnEvent(event);
}

}  // namespace

bool AskForBoxHeader(TransferContext& context, FILE_DOWNLOAD_HEADER_T& header) {
  context.observer.OnEvent(StatusEvent("", EventKind::kBusy));
  ShowMessage(context, kMsgConnectSuccess);
  SendCommand(context.port, kMsgStartUpload);
  ShowMessage(context, kMsgVerify);
  return ReceiveHeaderBlock(context.port, BytesOf(header));
}

std::vector<std::string> HeaderFieldLines(const FILE_DOWNLOAD_HEADER_T& header) {
  const FileIdentity identity = IdentityOfHeader(header);
  std::string reserved;
  for (const uint8_t byte : header.reserved) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%s%02X", reserved.empty() ? "" : " ", byte);
    reserved += hex;
  }
  return {
      "manufacture ident: " + Shown(identity.manufactureIdent),
      "hardware module: " + Shown(identity.hardwareModule),
      "hardware version: " + Shown(identity.hardwareVersion),
      "software module: " + Shown(identity.softwareModule),
      "software version: " + Shown(identity.softwareVersion),
      "ident for nocheck: " + std::to_string(header.identForNocheck),
      "kind code: " + std::to_string(header.partitionKind),
      "partition count: " + std::to_string(header.partitionCount),
      "total size: " + std::to_string(GetLe24(header.totalSize)),
      "reserved: " + reserved,
  };
}

LinkEvent IdentifyTask::DoneEvent() const {
  LinkEvent event = StatusEvent(kIdentifySuccessText, EventKind::kSuccess);
  event.phase = Phase::kVerify;
  return event;
}

bool IdentifyTask::Run(TransferContext& context) {
  FILE_DOWNLOAD_HEADER_T boxHeader{};
  const bool received = AskForBoxHeader(context, boxHeader);
  // Refused either way: the box asks for no read request and goes back to announcing itself.
  SendCommand(context.port, kMsgIdentFailed);
  if (!received) {
    ShowMessage(context, kMsgIdentFailed);
    return false;
  }
  context.header = boxHeader;
  for (std::string& line : HeaderFieldLines(boxHeader)) Report(context, std::move(line));
  if (!file_) return true;
  std::vector<std::string> differing;
  if (FileFitsBox(*file_, boxHeader, &differing)) {
    Report(context, file_->identForNocheck == 1
                        ? "the file fits: it asks for no identity check"
                        : "the file fits: every identity field is the box's");
    return true;
  }
  // Each differing text as both sides have it: "hardware version: box 1.00, file 1.01".
  const std::vector<std::string> boxLines = HeaderFieldLines(boxHeader);
  const std::vector<std::string> fileLines = HeaderFieldLines(*file_);
  for (const std::string& label : differing) {
    for (size_t i = 0; i < boxLines.size(); ++i) {
      if (!boxLines[i].starts_with(label + ": ")) continue;
      const size_t from = label.size() + 2;
      Report(context,
             label + ": box " + boxLines[i].substr(from) + ", file " + fileLines[i].substr(from));
    }
  }
  LinkEvent refused = StatusEvent(kIdentityMismatchText, EventKind::kFailure);
  refused.phase = Phase::kVerify;
  refused.failureKind = BoxFailureKind::kIdentityMismatch;
  std::string words = "the file's";
  for (size_t i = 0; i < differing.size(); ++i) {
    words += (i == 0 ? " " : i + 1 == differing.size() ? " and " : ", ") + differing[i];
  }
  refused.failure =
      FailureSaying(FailureKind::kOther,
                    words + (differing.size() == 1 ? " differs" : " differ") + " from the box's");
  context.observer.OnEvent(refused);
  return false;
}

}  // namespace vn

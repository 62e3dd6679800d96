#include "link/message_trace.h"

#include <algorithm>

#include "dld/blocks.h"
#include "link/wire_format.h"
#include "platform/append_line.h"
#include "platform/file_kind.h"
#include "platform/text_format.h"

namespace vn {
namespace {

const char* DirectionName(TraceDirection direction) {
  switch (direction) {
    case TraceDirection::kSent:
      return "sent";
    case TraceDirection::kReceived:
      return "received";
    case TraceDirection::kDropped:
      return "dropped";
  }
  return "?";
}

// A command frame by its code and sub; the sub of a report says whether the step worked.
std::string CommandKind(uint8_t code, uint8_t sub) {
  const char* outcome = sub != 0 ? "-ok" : "-failed";
  switch (code) {
    case kCodeReady:
      return "ready";
    case kCodeIdent:
      return std::string("verdict") + (sub != 0 ? "-ok" : "-refused");
    case kCodeErase:
      return std::string("erase") + outcome;
    case kCodeProgram:
      return std::string("program") + outcome;
    case kCodeUpload:
      return "start-upload";
    case kCodeDownload:
      return "start-download";
  }
  return "command-" + HexBytes({&code, 1});
}

}  // namespace

std::string MessageKind(std::span<const uint8_t> bytes) {
  const size_t size = bytes.size();
  if (size == 1 && bytes[0] == ACK) return "ack";
  if (size == 1 && bytes[0] == NAK) return "nak";
  if (size == size_t(kCommandFrameSize) && bytes[0] == STX && bytes[3] == ETX) {
    return CommandKind(bytes[1], bytes[2]);
  }
  if (size == size_t(kHeaderSize) && bytes[0] == kHeaderTag) return "header";
  if (size == size_t(kDescriptorSize) && bytes[0] == kDescriptorTag) return "descriptor";
  if (size == size_t(kDataFrameSize) && bytes[0] == STX) {
    // Both start with STX; a request is told by its length and CRC holding.
    if (ParseReadRequest(bytes.data())) return "read-request";
    if (uint8_t(~bytes[1]) == bytes[2]) return "data-frame";
  }
  return "unknown";
}

std::string TraceLine(std::chrono::system_clock::time_point when, const std::string& port,
                      TraceDirection direction, std::span<const uint8_t> bytes) {
  std::string line = IsoUtc(when, 6);
  if (!port.empty()) line += " " + port;
  line += " ";
  line += DirectionName(direction);
  line += " " + MessageKind(bytes) + " " + std::to_string(bytes.size());
  if (!bytes.empty())
    line += " " + HexBytes(bytes.first(std::min(bytes.size(), kTraceShownBytes)), " ");
  if (bytes.size() > kTraceShownBytes) line += " ...";
  return line;
}

void TraceToLog::OnMessage(TraceDirection direction, std::span<const uint8_t> bytes) {
  log_.Add(TraceLine(std::chrono::system_clock::now(), port_, direction, bytes));
}

Failure TraceFileFailure(const std::string& path, const std::vector<std::string>& others) {
  if (path == "-") return {};
  for (const std::string& other : others) {
    if (!other.empty() && SameFile(path, other)) {
      return FailureSaying(FailureKind::kOther,
                           "the trace " + path + " would be written into " + other);
    }
  }
  Failure failure;
  if (CanAppendLines(path, failure)) return {};
  failure.action = "cannot write the trace";
  failure.subject = path;
  return failure;
}

}  // namespace vn

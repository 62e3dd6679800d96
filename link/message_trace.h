#pragma once
// The trace of a line: every whole message that crosses it, as a support engineer asks for it
// when a box misbehaves. The port's tally (and the virtual box's link) tell an observer of each
// message; a front end turns them into lines with TraceLine and writes them where the user asked.
// Nothing here writes anywhere.
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "platform/line_log.h"

namespace vn {

enum class TraceDirection {
  kSent,      // written to the line
  kReceived,  // read from the line and taken as the message awaited
  kDropped,   // read from the line and thrown away: not what was awaited, or stale
};

// Told of every message as it crosses; called on the thread that talks on the line.
class MessageObserver {
 public:
  virtual ~MessageObserver() = default;
  virtual void OnMessage(TraceDirection direction, std::span<const uint8_t> bytes) = 0;
};

// How many of a message's bytes a trace line shows.
inline constexpr size_t kTraceShownBytes = 16;

// What a message is, from its bytes alone, as one word: "ack", "nak", "ready", "verdict-ok",
// "header", "descriptor", "data-frame", "read-request", ..., or "unknown".
std::string MessageKind(std::span<const uint8_t> bytes);

// One line, without its newline: the time to the microsecond (IsoUtc), the port when `port` is not
// empty, direction, kind, size and the first bytes in hex, e.g. "2026-12-07T21:47:02.123456Z COM1
// sent header 71 11 44 00 ...".
std::string TraceLine(std::chrono::system_clock::time_point when, const std::string& port,
                      TraceDirection direction, std::span<const uint8_t> bytes);

// Adds a line to `log` for every message; `port` names the line when a program serves several.
class TraceToLog : public MessageObserver {
 public:
  TraceToLog(LineLog& log, std::string port) : log_(log), port_(std::move(port)) {}
  void OnMessage(TraceDirection direction, std::span<const uint8_t> bytes) override;

 private:
  LineLog& log_;
  const std::string port_;
};

// Why `path` cannot take a trace, or kNone: "-" (standard error) always can; a file must be one
// that lines can be appended to, and none of `others`, the files the run reads or writes.
Failure TraceFileFailure(const std::string& path, const std::vector<std::string>& others);

}  // namespace vn

#pragma once
// How one box ended, told once by the run that served it: the result, the last phase reached, the
// kind of failure, the status text shown, the system's words and the link's tallies. The record,
// the --json stream, the summary, the terminal rows and the window all read this; none of them
// works out from a status text why a box failed.
#include <chrono>
#include <string>

#include "link/link_counters.h"
#include "link/phase.h"
#include "platform/failure.h"

namespace vn {

// What went wrong with a box, as a program counts it: what happened, not which text was shown.
enum class BoxFailureKind {
  kNone,              // the box succeeded (or nothing is known yet)
  kIdentityRefused,   // the box refused the file's identity (its verdict on the header)
  kEraseFailed,       // the box reported an erase failure that ended the box
  kProgramFailed,     // the box reported a program failure that ended the box
  kNoAnswer,          // the box fell silent: the tries of an exchange ran out on time-outs
  kTooManyResends,    // ten NAKs in a row for one message
  kDamagedData,       // what the box sent failed its check (block CRC, header CRC, descriptor)
  kUnexpectedAnswer,  // the box answered with a message that is not the one awaited
  kPortLost,          // the port went away under the box
  kStalled,           // the stall limit ran out
  kStopped,           // a stop request cut the box short
  kOutputUnwritable,  // the upload's output could not be written (full disk, I/O error)
  kContentDiffers,    // verify: a region read back differs from the file
  kIdentityMismatch,  // identify with a file: the box would refuse the file's identity
};

// "identity-refused", "erase-failed", ...: the kind's word for other programs; nullptr for kNone.
const char* BoxFailureKindName(BoxFailureKind kind);

// How a box ended: a stop request fails no box, a lost port under a box does.
enum class BoxResult { kFailure, kSuccess, kStopped };

// "success", "failure" or "stopped".
const char* BoxResultName(BoxResult result);

struct BoxOutcome {
  int box = 0;  // the run's box, 1 for the first
  BoxResult result = BoxResult::kFailure;
  Phase phase = Phase::kNone;  // the last phase reached
  BoxFailureKind failureKind = BoxFailureKind::kNone;
  // The failure's status text as the window showed it ("Transfer failed!"); empty unless
  // kFailure.
  std::string statusText;
  // The system's words behind the failure and what was being done ("cannot write F.partial: No
  // space left on device"); its detail holds what the run told beside it ("the data received so
  // far is in F.partial"). kNone for a success.
  Failure failure;
  LinkCounters link;  // the box's tallies at its end
  std::chrono::system_clock::time_point start{};
  std::chrono::system_clock::time_point end{};
  double seconds = 0;  // start to end, on a clock that does not jump

  bool Succeeded() const { return result == BoxResult::kSuccess; }
};

// A failure of `kind` in one line: "stopped before the box was done", "the port went away" (then
// a colon and the system's words), an output's failure with what to do about it, otherwise the
// failure's words; empty when there are none.
std::string FailureReason(BoxFailureKind kind, const Failure& failure);

// What the system said about the box's end, in one line, or empty: "stopped before the box was
// done" for a stop, "the port went away" (then a colon and the system's words) for a lost port,
// otherwise the failure's words, or what was told beside it.
std::string OutcomeReason(const BoxOutcome& outcome);

}  // namespace vn

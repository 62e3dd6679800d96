#pragma once
// What the operation reports, as data: front ends decide what to show from the fields, and the
// text is only there for those that show the window's status line as it is.
#include <cstdint>
#include <string>

#include "link/box_outcome.h"
#include "link/link_counters.h"
#include "link/phase.h"
#include "platform/failure.h"

namespace vn {

enum class EventKind {
  kStatus,   // a status text: a LinkMessage, a refusal, or the cleared line (empty text)
  kPercent,  // region `part` of `count` done in `phase`; text is the percentage line
  kBar,      // the progress bar stands at `part` of `count`
  kBytes,    // data bytes moved so far, `bytesDone` of `bytesTotal` (0 when unknown)
  kBusy,     // a transfer has begun: nothing else may be started on the port
  kIdle,     // a pass has ended, whatever its outcome
  kFailure,  // the pass failed in `phase`; text is its status text, failureKind and failure why
  kSuccess,  // one box done
  kWarning,  // something the user should know that is no failure (yet); text says what
  kNotice,   // a notice of the port's own ("CreateEvent Error!"): the window shows it in a box
             // captioned "Notice", the command line on standard error
  kReport,   // one line of what an operation found in the box, printed as it stands: a region a
             // verify read back (`region`), a field of the box's identity
};

// A region a verify read back, against the file's.
struct RegionCheck {
  uint32_t address = 0;         // as the file states it
  uint32_t size = 0;            // as the file states it
  uint32_t bytesDiffering = 0;  // 0: the same; bytes the box did not send count as differing
  uint32_t firstDiffering = 0;  // address of the first byte that differs, when any does
};

// What cut a pass short, told with its kIdle: a box that a stop request cut short did not fail,
// one whose port went away did.
enum class PassCut { kNone, kStopRequest, kPortLost };

struct LinkEvent {
  EventKind kind = EventKind::kStatus;
  Phase phase = Phase::kNone;
  int message = -1;  // the LinkMessage index the text comes from, or -1
  int part = 0;
  int count = 0;
  int64_t bytesDone = 0;
  int64_t bytesTotal = 0;
  std::string text;  // exactly what the window's status line shows; empty for kBar, kBytes, ...
  int box = 0;       // the run's box this event belongs to, 1 for the first
  PassCut cut = PassCut::kNone;  // kIdle only
  LinkCounters link;             // the tallies of that box so far
  RegionCheck region;            // kReport of a verify's region (part of count)
  // kFailure only: why the pass failed, as far as was known when its text was shown, and the
  // system's words for it (what was being done, to what). kNone for a refusal before any box.
  BoxFailureKind failureKind = BoxFailureKind::kNone;
  Failure failure{};

  // Whether the window's status line shows `text` for this event.
  bool HasStatusText() const {
    return kind == EventKind::kStatus || kind == EventKind::kPercent ||
           kind == EventKind::kFailure || kind == EventKind::kSuccess;
  }
};

// "connect", "verify", "transfer", "erase", "program", or "none": names for other programs.
const char* PhaseName(Phase phase);
// "status", "percent", ...: the kind's name for other programs.
const char* EventKindName(EventKind kind);

// "Transfering Data:  ", "Erase flash...  " or "Program flash...  ": what a phase's percentage
// lines begin with.
const char* PercentPrefix(Phase phase);

// A step that went right: a "... Success!" message or a box done.
bool IsStepSuccess(const LinkEvent& event);

// The event that shows a LinkMessage: its phase, and for the failure messages a kFailure.
LinkEvent MessageEvent(int index);
// One box done: the "Update Success!" message as a kSuccess.
LinkEvent BoxDoneEvent();
// "Transfering Data:  50%" and its kind: region `part` of `count` done in `phase`.
LinkEvent PercentEvent(Phase phase, int part, int count);
// A status text outside the LinkMessage table.
LinkEvent StatusEvent(std::string text, EventKind kind = EventKind::kStatus);

}  // namespace vn

#pragma once
// The console the command line runs in: its requests to stop, and whether an output is a terminal.
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>

namespace vn {

// While it lives, every stop request (SIGINT, SIGTERM and SIGHUP; on Windows Ctrl+C, Ctrl+Break and
// the console's close) calls `onStop` on a thread other than the caller's, instead of ending the
// process. A reader that goes away (`| head`) does not end the process either: the write fails.
// The destructor returns only when no call of `onStop` can follow.
class StopRequests {
 public:
  explicit StopRequests(std::function<void()> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Called first on a thread of the process's own that may start before StopRequests: a stop
// request then never lands there, where it would end the process at once (on POSIX the system
// hands a signal to any thread that does not block it). Nothing to do on Windows.
void KeepStopRequestsOffThisThread();

// Whether a stop request came since the latest StopRequests began.
bool StopRequested();

// Writes `text` to standard error without holding stdio's lock, or any other a stop needs, while
// it waits: a reader that stops reading holds up only the writer. The wait for room ends, and the
// rest of the text is dropped, once a stop request came or `giveUp` says so. False when the text
// was not written whole.
bool WriteStandardError(std::string_view text, const std::function<bool()>& giveUp = {});

bool IsTerminal(std::FILE* stream);
// The width of the terminal `stream` writes to, in columns; 0 when it is none or does not say.
int TerminalColumns(std::FILE* stream);

}  // namespace vn

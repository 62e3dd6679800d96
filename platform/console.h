#pragma once
// The console the command line runs in: its requests to stop, and whether an output is a terminal.
#include <cstdio>
#include <functional>
#include <memory>

namespace vn {

// While it lives, every stop request (SIGINT and SIGTERM; on Windows Ctrl+C, Ctrl+Break and the
// console's close) calls `onStop` on a thread other than the caller's, instead of ending the
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

bool IsTerminal(std::FILE* stream);
// The width of the terminal `stream` writes to, in columns; 0 when it is none or does not say.
int TerminalColumns(std::FILE* stream);

}  // namespace vn

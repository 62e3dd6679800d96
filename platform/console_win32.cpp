// The console's control events arrive on a thread the system starts for each. The handler is
// registered once per object; a lock keeps the destructor from returning while a call runs.
#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/console.h"

namespace vn {
namespace {

std::mutex gHandlerLock;
std::function<void()>* gOnStop = nullptr;
std::atomic<bool> gStopRequested{false};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      std::lock_guard<std::mutex> lock(gHandlerLock);
      if (gOnStop == nullptr) return FALSE;
      gStopRequested = true;
      (*gOnStop)();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

struct StopRequests::State {
  std::function<void()> onStop;
};

StopRequests::StopRequests(std::function<void()> onStop) : state_(std::make_unique<State>()) {
  state_->onStop = std::move(onStop);
  gStopRequested = false;
  {
    std::lock_guard<std::mutex> lock(gHandlerLock);
    gOnStop = &state_->onStop;
  }
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  std::lock_guard<std::mutex> lock(gHandlerLock);
  gOnStop = nullptr;
}

// The console's events come on a thread the system starts for them.
void KeepStopRequestsOffThisThread() {}

bool StopRequested() {
  return gStopRequested;
}

// A console or a pipe on Windows has no wait that a stop could cut short here; the text goes out
// in one write.
bool WriteStandardError(std::string_view text, const std::function<bool()>&) {
  return std::fwrite(text.data(), 1, text.size(), stderr) == text.size() &&
         std::fflush(stderr) == 0;
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

int TerminalColumns(std::FILE* stream) {
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (handle == INVALID_HANDLE_VALUE || !GetConsoleScreenBufferInfo(handle, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace vn

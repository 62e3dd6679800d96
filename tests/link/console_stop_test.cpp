// Stop requests from the console (SIGTERM on POSIX, Ctrl+Break on Windows) reach the callback on
// another thread, once for each, instead of ending the process.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "far_end.h"
#include "platform/console.h"

// Last: windows.h defines `far`, which the rig's header uses as a name.
#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

namespace vn::testing {
namespace {

bool SendStopRequest() {
#ifdef _WIN32
  return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, 0) != 0;
#else
  return ::kill(::getpid(), SIGTERM) == 0;
#endif
}

TEST(ConsoleStop, EachRequestCallsBackOnAnotherThread) {
  std::atomic<int> calls{0};
  std::atomic<bool> otherThread{false};
  const std::thread::id self = std::this_thread::get_id();
  {
    StopRequests requests([&] {
      otherThread = std::this_thread::get_id() != self;
      ++calls;
    });
    // Wine without a terminal has no console to send from.
    if (!SendStopRequest()) GTEST_SKIP() << "no console to send a stop request from";
    ASSERT_TRUE(WaitUntil([&] { return calls == 1; }));
    ASSERT_TRUE(SendStopRequest());
    ASSERT_TRUE(WaitUntil([&] { return calls == 2; }));
  }
  EXPECT_TRUE(otherThread);
}

}  // namespace
}  // namespace vn::testing

#include "link/platform/thread_priority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vn {
namespace {

// Low among real-time priorities: above every ordinary thread, below the system's own.
constexpr int kRealTimePriority = 10;
constexpr int kRaisedNice = -10;

}  // namespace

bool RaiseThisThreadPriority() {
  // The thread sleeps between messages, so the round-robin class cannot starve the others; the
  // kernel's real-time throttling caps it besides.
  sched_param param{};
  param.sched_priority = kRealTimePriority;
  if (::pthread_setschedparam(::pthread_self(), SCHED_RR, &param) == 0) return true;
#ifdef __linux__
  // On Linux a nice value belongs to the thread.
  return ::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), kRaisedNice) == 0;
#else
  return false;
#endif
}

}  // namespace vn

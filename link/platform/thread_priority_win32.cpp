#include "link/platform/thread_priority.h"

#include <windows.h>

namespace vn {

bool RaiseThisThreadPriority() {
  return SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_HIGHEST) != 0;
}

}  // namespace vn

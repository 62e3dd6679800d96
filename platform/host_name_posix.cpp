#include <unistd.h>

#include <climits>

#include "platform/host_name.h"

namespace vn {

std::string HostName() {
#ifdef HOST_NAME_MAX
  char name[HOST_NAME_MAX + 1] = {};
#else
  char name[256] = {};
#endif
  // A name cut short is not terminated: the last byte stays zero.
  if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
  return name;
}

}  // namespace vn

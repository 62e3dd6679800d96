#pragma once
// The name of this PC, as a record gives it.
#include <string>

namespace vn {

// The host's name (gethostname; the DNS host name on Windows); "unknown" when the system gives
// none.
std::string HostName();

}  // namespace vn

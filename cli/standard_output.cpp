#include "cli/standard_output.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/console.h"
#include "platform/exit_codes.h"

namespace vn {
namespace {

// errno of the first failed flush of standard output; 0 while none failed, or when a write that
// the C library made on its own (a full buffer) failed and the cause was not seen.
std::atomic<int> firstFailure{0};

void Note(int error) {
  int none = 0;
  firstFailure.compare_exchange_strong(none, error);
}

}  // namespace

void FlushOutput(std::FILE* out) {
  errno = 0;
  if (std::fflush(out) != 0 && out == stdout) Note(errno);
}

int FinishStandardOutput(int exitCode) {
  FlushOutput(stdout);
  if (!std::ferror(stdout)) return exitCode;
  const int error = firstFailure.load();
  if (error == EPIPE) return exitCode;
  const std::string cause = error != 0 ? std::string(": ") + std::strerror(error) : std::string();
  WriteStandardError("vespanode-cli: cannot write to standard output" + cause +
                     "; what it had to show is lost\n");
  return exitCode == kExitOk ? kExitFailed : exitCode;
}

}  // namespace vn

#include "app/command_line.h"

#include "vespanode/version.h"

namespace vn {
namespace {

constexpr int kExitBadUsage = 2;

constexpr const char* kUsage =
    "Usage: vespanode [--help] [--version] [Qt options]\n"
    "\n"
    "The window that moves flash contents between a PC and a receiver box over a serial cable.\n"
    "Only one copy runs per desktop: starting it again brings the running window to the front.\n"
    "\n"
    "Options:\n"
    "  -h, --help  Print this help message and exit\n"
    "  --version   Display program version information and exit\n"
    "\n"
    "Qt's own options, such as -platform NAME, are accepted as well.\n";

}  // namespace

std::optional<CommandLineAnswer> AnswerCommandLine(const std::vector<std::string>& arguments,
                                                   bool qtOptionsRemoved) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    if (argument == "-h" || argument == "--help") return CommandLineAnswer{0, kUsage, {}};
    if (argument == "--version") {
      return CommandLineAnswer{0, std::string("vespanode ") + kBuildVersion + "\n", {}};
    }
  }
  if (!qtOptionsRemoved || arguments.empty()) return std::nullopt;
  return CommandLineAnswer{kExitBadUsage,
                           {},
                           "vespanode: unexpected argument: " + arguments.front() +
                               "\nRun with --help for more information.\n"};
}

}  // namespace vn

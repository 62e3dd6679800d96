// `ports`: the serial ports the system reports, to find the one the box hangs on.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>

#include "cli/commands.h"
#include "link/system_port.h"

namespace vn {
namespace {

void PrintPorts() {
  const std::vector<PortInfo> ports = ListSystemPorts();
  if (ports.empty()) {
    std::printf("No serial ports found.\n");
    return;
  }
  size_t width = 0;
  for (const PortInfo& port : ports) width = std::max(width, port.path.size());
  for (const PortInfo& port : ports) {
    if (port.description.empty()) {
      std::printf("%s\n", port.path.c_str());
    } else {
      std::printf("%-*s  %s\n", int(width), port.path.c_str(), port.description.c_str());
    }
  }
}

}  // namespace

void RegisterPortCommands(CLI::App& app, int& exitCode) {
  CLI::App* ports =
      app.add_subcommand("ports",
                         "List the serial ports the system reports, with their descriptions. "
                         "COM.01..COM.10 name /dev/ttyS0../dev/ttyS9; any device path works too.");
  ports->callback([&exitCode] {
    PrintPorts();
    exitCode = 0;
  });
}

}  // namespace vn

#pragma once
// vespanode-cli's commands, one group per Register function. Each adds its subcommands to the
// app; the callback of the command that runs leaves the program's exit status in `exitCode`.
#include <CLI/CLI.hpp>

namespace vn {

// inspect, pack, extract: upgrade files and flash images, no box needed.
void RegisterFileCommands(CLI::App& app, int& exitCode);

// download, upload: the window's Start against a box on a port.
void RegisterTransferCommands(CLI::App& app, int& exitCode);

// ports: the serial ports the system reports.
void RegisterPortCommands(CLI::App& app, int& exitCode);

}  // namespace vn

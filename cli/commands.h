#pragma once
// vespanode-cli's commands, one group per Register function. Each adds its subcommands to the
// app; the callback of the command that runs leaves the program's exit status in `run`.
#include <CLI/CLI.hpp>
#include <memory>

namespace vn {

struct CommandRun {
  int exitCode = 0;
  // Parse and check the command line, and run nothing: what a line means, for the tests.
  bool parseOnly = false;
};

// The whole command line: every command below, --version, and one command required. main parses
// with it; tests parse with it too, with `run.parseOnly`, to see what a command line means.
std::unique_ptr<CLI::App> MakeCommandLine(CommandRun& run);

// inspect, pack, extract: upgrade files and flash images, no box needed.
void RegisterFileCommands(CLI::App& app, CommandRun& run);

// download, upload: the window's Start against a box on a port.
void RegisterTransferCommands(CLI::App& app, CommandRun& run);

// verify, identify: what a box holds, read without writing anything into it.
void RegisterVerifyCommands(CLI::App& app, CommandRun& run);

// ports: the serial ports the system reports.
void RegisterPortCommands(CLI::App& app, CommandRun& run);

// report: yield and failures over record files and databases.
void RegisterReportCommand(CLI::App& app, CommandRun& run);

// records flush: records spooled while a database could not take them.
void RegisterRecordsCommands(CLI::App& app, CommandRun& run);

}  // namespace vn

// vespanode-cli: the tool's operations without the window.
#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/standard_output.h"

int main(int argc, char** argv) {
  vn::CommandRun run;
  const std::unique_ptr<CLI::App> app = vn::MakeCommandLine(run);
  try {
    app->parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help prints and succeeds; a mistake in the arguments is bad input, like an unreadable file.
    run.exitCode = app->exit(error) == 0 ? 0 : 2;
  }
  return vn::FinishStandardOutput(run.exitCode);
}

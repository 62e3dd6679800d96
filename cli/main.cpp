// vespanode-cli: the tool's operations without the window.
#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "vespanode/version.h"

int main(int argc, char** argv) {
  CLI::App app{"Moves flash contents between a PC and a receiver box.", "vespanode-cli"};
  app.set_version_flag("--version", std::string("vespanode-cli ") + vn::kBuildVersion);
  app.require_subcommand(1);
  int exitCode = 0;
  vn::RegisterFileCommands(app, exitCode);
  vn::RegisterTransferCommands(app, exitCode);
  vn::RegisterPortCommands(app, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    // --help prints and succeeds; a mistake in the arguments is bad input, like an unreadable file.
    return app.exit(error) == 0 ? 0 : 2;
  }
  return exitCode;
}

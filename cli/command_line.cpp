#include "cli/commands.h"
#include "vespanode/version.h"

namespace vn {

std::unique_ptr<CLI::App> MakeCommandLine(CommandRun& run) {
  auto app = std::make_unique<CLI::App>("Moves flash contents between a PC and a receiver box.",
                                        "vespanode-cli");
  app->set_version_flag("--version", std::string("vespanode-cli ") + kBuildVersion);
  app->require_subcommand(1);
  RegisterFileCommands(*app, run);
  RegisterTransferCommands(*app, run);
  RegisterVerifyCommands(*app, run);
  RegisterPortCommands(*app, run);
  RegisterReportCommand(*app, run);
  RegisterRecordsCommands(*app, run);
  return app;
}

}  // namespace vn

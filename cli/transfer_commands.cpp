// `download` and `upload`: the window's Start, for scripts and production stations.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/production_line.h"
#include "dld/region_sets.h"
#include "dld/upgrade_file_check.h"
#include "link/upload_output.h"
#include "platform/exit_codes.h"

namespace vn {

void AddLineOptions(CLI::App& command, LineRequest& request) {
  command
      .add_option("--record", request.recordFile,
                  "One record per box served: a JSON-lines file, an SQLite database (.sqlite, .db, "
                  "sqlite:PATH) or a PostgreSQL URL")
      ->check(LineFileName(false));
  command
      .add_option("--trace", request.traceFile,
                  "Append every message sent and received to this file (- for standard error)")
      ->check(LineFileName(true));
  command.add_flag("--json", request.json,
                   "One JSON object per line on standard output instead of status lines");
  CLI::Option* http =
      command
          .add_option("--http", request.httpAddress,
                      "Serve the line page, its API and metrics on [ADDR:]PORT (ADDR: 127.0.0.1)")
          ->check(HttpAddress());
  command
      .add_option("--http-host", request.httpHosts,
                  "A name the line page may be asked by besides its address and localhost, such "
                  "as the PC's name on the network; repeat it for several")
      ->needs(http)
      ->allow_extra_args(false)  // one value each, so that FILE may follow
      ->check(HttpHostName());
  command
      .add_option("--stall-timeout", request.stallSeconds,
                  "Fail a box that makes no progress for this many seconds (default: never)")
      ->check(SecondsFromTo(0.1, 604800.0));
}

void RegisterTransferCommands(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<LineRequest>();

  auto* download =
      app.add_subcommand("download", "Write an upgrade file into one box after another");
  download
      ->add_option("--port", request->ports,
                   "COM1..COM10, COM.01..COM.10 or a device path; repeat it to serve several "
                   "ports at once")
      ->required()
      ->allow_extra_args(false)  // one value each, so that FILE may follow
      ->check(NonEmptyName());
  download->add_option("FILE", request->file, "Upgrade file (.dld)")
      ->required()
      ->check(NonEmptyName());
  download->add_option("--boxes", request->boxes, "Boxes to serve; 0 = until interrupted")
      ->default_val(1)
      ->check(BoxCount());
  download->add_flag("--keep-going", request->keepGoing,
                     "Count a failed box and wait for the next one instead of stopping");
  AddLineOptions(*download, *request);
  auto noVerify = std::make_shared<bool>(false);
  download->add_flag("--no-verify", *noVerify, "Send the file without checking it first");
  download->callback([request, noVerify, &run] {
    if (run.parseOnly) return;
    request->operation = Operation::kDownload;
    if (const Failure failure = FileKindFailure(request->file); failure.Failed()) {
      std::fprintf(stderr, "vespanode-cli: %s: %s\n", request->file.c_str(),
                   FailureText(failure).c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    // Read once: the bytes checked here, hashed for the records and sent to every box are the
    // same, whatever happens to the file during the run.
    auto image = std::make_shared<std::vector<uint8_t>>();
    Failure failure;
    const bool read = ReadUpgradeImage(request->file, *image, failure);
    if (!read && *noVerify) {
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(failure).c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    if (!*noVerify && (!read || !CheckUpgradeImage(*image, failure))) {
      std::fprintf(stderr, "vespanode-cli: %s is not a sound upgrade file: %s\n",
                   request->file.c_str(), FailureText(failure).c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    request->image = std::move(image);
    run.exitCode = RunLine(*request);
  });

  auto* upload =
      app.add_subcommand("upload", "Read a region set out of a box into a new upgrade file");
  upload->add_option("--port", request->ports, "COM1..COM10, COM.01..COM.10 or a device path")
      ->required()
      ->expected(1)
      ->allow_extra_args(false)
      ->check(NonEmptyName());
  auto setName = std::make_shared<std::string>();
  upload->add_option("--set", *setName, SetNameChoices())
      ->required()
      ->check(CLI::IsMember(SetNames()));
  upload->add_option("FILE", request->file, "Upgrade file to write (.dld)")
      ->required()
      ->check(NonEmptyName());
  auto force = std::make_shared<bool>(false);
  upload->add_flag("--force", *force, "Replace FILE if it exists");
  AddLineOptions(*upload, *request);
  upload->callback([request, setName, force, &run] {
    if (run.parseOnly) return;
    request->operation = *OperationOfSetName(*setName);  // the parser took only set names
    request->boxes = 1;
    // What the path is comes first: a FIFO or a device is said to be one, --force or not.
    Failure failure;
    if (!CanCreateUploadFile(request->file, failure)) {
      std::fprintf(stderr, "vespanode-cli: %s\n", FileErrorText(failure).c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    std::error_code error;
    if (std::filesystem::exists(request->file, error) && !*force) {
      std::fprintf(stderr, "vespanode-cli: %s already exists; use --force to replace it\n",
                   request->file.c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    run.exitCode = RunLine(*request);
  });
}

}  // namespace vn

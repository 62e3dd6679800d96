// `download` and `upload`: the window's Start, for scripts and production stations.
#include <CLI/CLI.hpp>

#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/production_line.h"
#include "dld/region_sets.h"
#include "dld/upgrade_file_check.h"
#include "link/upload_output.h"

namespace vn {
namespace {

// CLI11's own range check would print the largest int it accepts in full.
std::string CheckBoxCount(std::string& text) {
  int value = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (status != std::errc{} || end != text.data() + text.size() || value < 0) {
    return "needs a whole number of boxes, 0 or more (0: until interrupted)";
  }
  return {};
}

// The production line's options, shared by both commands.
void AddLineOptions(CLI::App& command, LineRequest& request) {
  command.add_option("--record", request.recordFile,
                     "Append one JSON line per box served to this file");
  command.add_flag("--json", request.json,
                   "One JSON object per line on standard output instead of status lines");
  command
      .add_option("--stall-timeout", request.stallSeconds,
                  "Fail a box that makes no progress for this many seconds (default: never)")
      ->check(CLI::Range(0.1, 604800.0));
}

}  // namespace

void RegisterTransferCommands(CLI::App& app, int& exitCode) {
  auto request = std::make_shared<LineRequest>();

  auto* download =
      app.add_subcommand("download", "Write an upgrade file into one box after another");
  download
      ->add_option("--port", request->ports,
                   "COM1..COM10, COM.01..COM.10 or a device path; repeat it to serve several "
                   "ports at once")
      ->required()
      ->take_all();
  download->add_option("FILE", request->file, "Upgrade file (.dld)")->required();
  download->add_option("--boxes", request->boxes, "Boxes to serve; 0 = until interrupted")
      ->default_val(1)
      ->check(CLI::Validator(CheckBoxCount, "N"));
  download->add_flag("--keep-going", request->keepGoing,
                     "Count a failed box and wait for the next one instead of stopping");
  AddLineOptions(*download, *request);
  auto noVerify = std::make_shared<bool>(false);
  download->add_flag("--no-verify", *noVerify, "Send the file without checking it first");
  download->callback([request, noVerify, &exitCode] {
    request->operation = kOperationDownload;
    if (const std::string problem = FileKindProblem(request->file); !problem.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s: %s\n", request->file.c_str(), problem.c_str());
      exitCode = kExitBadInput;
      return;
    }
    if (!*noVerify) {
      std::string problem;
      if (!CheckUpgradeFile(request->file, problem)) {
        std::fprintf(stderr, "vespanode-cli: %s is not a sound upgrade file: %s\n",
                     request->file.c_str(), problem.c_str());
        exitCode = kExitBadInput;
        return;
      }
    }
    exitCode = RunLine(*request);
  });

  auto* upload =
      app.add_subcommand("upload", "Read a region set out of a box into a new upgrade file");
  upload->add_option("--port", request->ports, "COM1..COM10, COM.01..COM.10 or a device path")
      ->required()
      ->expected(1);
  auto setName = std::make_shared<std::string>();
  upload->add_option("--set", *setName, SetNameChoices())
      ->required()
      ->check(CLI::IsMember(SetNames()));
  upload->add_option("FILE", request->file, "Upgrade file to write (.dld)")->required();
  auto force = std::make_shared<bool>(false);
  upload->add_flag("--force", *force, "Replace FILE if it exists");
  AddLineOptions(*upload, *request);
  upload->callback([request, setName, force, &exitCode] {
    request->operation = OperationOfSetName(*setName).value_or(0);
    request->boxes = 1;
    std::error_code error;
    if (std::filesystem::exists(request->file, error) && !*force) {
      std::fprintf(stderr, "vespanode-cli: %s already exists; use --force to replace it\n",
                   request->file.c_str());
      exitCode = kExitBadInput;
      return;
    }
    int osError = 0;
    if (!CanCreateUploadFile(request->file, &osError)) {
      std::fprintf(stderr, "vespanode-cli: %s\n",
                   FileErrorText("cannot write", request->file, osError).c_str());
      exitCode = kExitBadInput;
      return;
    }
    exitCode = RunLine(*request);
  });
}

}  // namespace vn

// inspect, pack, extract: upgrade files and flash images on disk, no box needed.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/inspect_output.h"
#include "cli/option_checks.h"
#include "dld/extract.h"
#include "dld/file_io.h"
#include "dld/inspect.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "platform/exit_codes.h"

namespace vn {
namespace {

constexpr int kExitUnsound = kExitFailed;

void Complain(const std::string& message) {
  std::fprintf(stderr, "vespanode-cli: %s\n", message.c_str());
}

// The whole file, or nullopt once the user has been told why it cannot be read.
std::optional<std::vector<uint8_t>> ReadInput(const std::string& path) {
  std::vector<uint8_t> bytes;
  Failure failure;
  if (ReadWholeFile(path, bytes, failure)) return bytes;
  Complain(FailureText(failure));
  return std::nullopt;
}

struct InspectRequest {
  std::string file;
  bool json = false;
};

int RunInspect(const InspectRequest& request) {
  std::vector<uint8_t> bytes;
  if (Failure failure; !ReadWholeFile(request.file, bytes, failure)) {
    // A script reading the JSON learns why too, not only a person reading standard error.
    if (request.json) PrintInspectFailureJson(stdout, request.file, FailureText(failure));
    Complain(FailureText(failure));
    return kExitBadInput;
  }
  const InspectReport report = InspectUpgradeFile(bytes);
  if (request.json) {
    PrintInspectJson(stdout, request.file, report);
  } else {
    PrintInspectText(stdout, request.file, report);
  }
  if (report.Sound()) return kExitOk;
  Complain(request.file + " is not sound: " + DescribeFault(report.faults.front()));
  return kExitUnsound;
}

struct PackRequest {
  std::string setName;
  std::string flashImage;
  std::string output;
  FileIdentity identity;
  bool nocheck = false;
};

int RunPack(PackRequest request) {
  const Operation operation = OperationOfSetName(request.setName).value_or(Operation::kDownload);
  request.identity.identForNocheck = request.nocheck ? 1 : 0;
  Failure failure;
  if (!IdentityFitsHeader(request.identity, &failure)) {
    Complain(FailureText(failure));
    return kExitBadInput;
  }
  const auto image = ReadInput(request.flashImage);
  if (!image) return kExitBadInput;
  const auto file = PackUpgradeFile(RegionSetOf(operation), *image, request.identity, &failure);
  if (!file) {
    Complain(FailureText(failure));
    return kExitBadInput;
  }
  if (!WriteFileAtomically(request.output, *file, failure)) {
    Complain(FailureText(failure));
    return kExitBadInput;
  }
  std::printf("%s: %s, %d regions, %zu bytes\n", request.output.c_str(),
              std::string(OperationName(operation)).c_str(), PartitionCountOfOperation(operation),
              file->size());
  return kExitOk;
}

struct ExtractRequest {
  std::string file;
  std::string flashImage;
};

int RunExtract(const ExtractRequest& request) {
  const auto bytes = ReadInput(request.file);
  if (!bytes) return kExitBadInput;
  const ExtractResult result = ExtractToImageFile(*bytes, request.flashImage);
  switch (result.outcome) {
    case ExtractOutcome::Written:
      std::printf("%s: regions of %s written\n", request.flashImage.c_str(), request.file.c_str());
      return kExitOk;
    case ExtractOutcome::Unsound:
      Complain(request.file + " is not extracted, nothing written: " + FailureText(result.failure));
      return kExitUnsound;
    case ExtractOutcome::IoError:
      break;
  }
  Complain(FailureText(result.failure));
  return kExitBadInput;
}

// Once the whole line is parsed, the command runs with what it gathered, unless the line is
// only being read.
template <typename Request, typename Runner>
void RunsAs(CLI::App& command, CommandRun& run, std::shared_ptr<Request> request, Runner runner) {
  command.callback([request, runner, &run] {
    if (!run.parseOnly) run.exitCode = runner(*request);
  });
}

void AddInspect(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<InspectRequest>();
  auto* command = app.add_subcommand("inspect", "Check an upgrade file block by block");
  command->add_option("FILE", request->file, "Upgrade file (.dld)")
      ->required()
      ->check(NonEmptyName());
  command->add_flag("--json", request->json, "Print one JSON object");
  RunsAs(*command, run, request, RunInspect);
}

void AddPack(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<PackRequest>();
  auto* command = app.add_subcommand("pack", "Make an upgrade file from a flash image");
  command->add_option("--set", request->setName, SetNameChoices())
      ->required()
      ->check(CLI::IsMember(SetNames()));
  command
      ->add_option("--flash", request->flashImage,
                   "Flash image starting at 0x40000000; missing bytes count as erased (0xFF)")
      ->required()
      ->check(NonEmptyName());
  command->add_option("-o,--output", request->output, "Upgrade file to write")
      ->required()
      ->check(NonEmptyName());
  FileIdentity& id = request->identity;
  command->add_option("--manufacture-ident", id.manufactureIdent, "Up to 15 characters");
  command->add_option("--hardware-module", id.hardwareModule, "Up to 8 characters");
  command->add_option("--hardware-version", id.hardwareVersion, "Up to 8 characters");
  command->add_option("--software-module", id.softwareModule, "Up to 8 characters");
  command->add_option("--software-version", id.softwareVersion, "Up to 8 characters");
  command->add_flag("--nocheck", request->nocheck, "Let any box take the file (ident for nocheck)");
  RunsAs(*command, run, request, RunPack);
}

void AddExtract(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<ExtractRequest>();
  auto* command = app.add_subcommand(
      "extract",
      "Write an upgrade file's regions into a flash image (made 2 MiB of 0xFF if absent)");
  command->add_option("FILE", request->file, "Upgrade file (.dld)")
      ->required()
      ->check(NonEmptyName());
  command->add_option("--flash", request->flashImage, "Flash image starting at 0x40000000")
      ->required()
      ->check(NonEmptyName());
  RunsAs(*command, run, request, RunExtract);
}

}  // namespace

void RegisterFileCommands(CLI::App& app, CommandRun& run) {
  AddInspect(app, run);
  AddPack(app, run);
  AddExtract(app, run);
}

}  // namespace vn

// `verify` and `identify`: what a box holds, read without writing anything into it.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/production_line.h"
#include "dld/header_file.h"
#include "dld/upgrade_file_check.h"
#include "link/identify.h"
#include "link/upload_output.h"
#include "link/verify.h"
#include "platform/exit_codes.h"

namespace vn {
namespace {

// The ports and the number of boxes, as download takes them.
void AddPortOptions(CLI::App& command, LineRequest& request) {
  command
      .add_option("--port", request.ports,
                  "COM1..COM10, COM.01..COM.10 or a device path; repeat it to serve several "
                  "ports at once")
      ->required()
      ->allow_extra_args(false)  // one value each, so that FILE may follow
      ->check(NonEmptyName());
  command.add_option("--boxes", request.boxes, "Boxes to serve; 0 = until interrupted")
      ->default_val(1)
      ->check(BoxCount());
  command.add_flag("--keep-going", request.keepGoing,
                   "Count a failed box and wait for the next one instead of stopping");
  AddLineOptions(command, request);
}

// The file's bytes when they are a sound upgrade file, checked as download checks them; nullptr
// after saying why on standard error.
DownloadImage SoundImage(const std::string& file) {
  if (const Failure failure = FileKindFailure(file); failure.Failed()) {
    std::fprintf(stderr, "vespanode-cli: %s: %s\n", file.c_str(), FailureText(failure).c_str());
    return nullptr;
  }
  auto image = std::make_shared<std::vector<uint8_t>>();
  Failure failure;
  if (!ReadUpgradeImage(file, *image, failure) || !CheckUpgradeImage(*image, failure)) {
    std::fprintf(stderr, "vespanode-cli: %s is not a sound upgrade file: %s\n", file.c_str(),
                 FailureText(failure).c_str());
    return nullptr;
  }
  return image;
}

// --save writes as upload writes, and as upload never replaces a file; one copy of one box.
// False after saying why on standard error.
bool SaveFileUsable(const LineRequest& request) {
  const std::string& save = request.saveFile;
  if (request.ports.size() != 1 || request.boxes != 1) {
    std::fprintf(stderr, "vespanode-cli: --save keeps what one box sent: one --port, --boxes 1\n");
    return false;
  }
  Failure failure;
  if (!CanCreateUploadFile(save, failure)) {
    std::fprintf(stderr, "vespanode-cli: %s\n", FileErrorText(failure).c_str());
    return false;
  }
  std::error_code error;
  if (std::filesystem::exists(save, error)) {
    std::fprintf(stderr, "vespanode-cli: %s already exists; --save never replaces a file\n",
                 save.c_str());
    return false;
  }
  return true;
}

void RegisterVerify(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<LineRequest>();
  auto* verify = app.add_subcommand(
      "verify", "Read a file's regions back out of one box after another and compare them");
  AddPortOptions(*verify, *request);
  verify->add_option("FILE", request->file, "Upgrade file (.dld) the boxes should hold")
      ->required()
      ->check(NonEmptyName());
  verify
      ->add_option("--save", request->saveFile,
                   "Also write what the box sent into this new upgrade file (one box, one port)")
      ->check(NonEmptyName());
  verify->callback([request, &run] {
    if (run.parseOnly) return;
    if (!request->saveFile.empty() && !SaveFileUsable(*request)) {
      run.exitCode = kExitBadInput;
      return;
    }
    DownloadImage image = SoundImage(request->file);
    if (!image) {
      run.exitCode = kExitBadInput;
      return;
    }
    VerifyPlan plan;
    Failure failure;
    if (!PlanVerify(*image, plan, failure)) {
      std::fprintf(stderr, "vespanode-cli: %s cannot be verified: %s\n", request->file.c_str(),
                   FailureText(failure).c_str());
      run.exitCode = kExitBadInput;
      return;
    }
    request->image = std::move(image);
    request->task = std::make_shared<VerifyTask>(std::move(plan), request->saveFile);
    request->operationWord = "verify";
    run.exitCode = RunLine(*request);
  });
}

void RegisterIdentify(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<LineRequest>();
  auto* identify = app.add_subcommand(
      "identify", "Show the identity of one box after another; nothing is read or written");
  AddPortOptions(*identify, *request);
  identify
      ->add_option("--file", request->file,
                   "Also say whether the box would take this upgrade file (.dld)")
      ->check(NonEmptyName());
  identify->callback([request, &run] {
    if (run.parseOnly) return;
    std::optional<FILE_DOWNLOAD_HEADER_T> fileHeader;
    if (!request->file.empty()) {
      DownloadImage image = SoundImage(request->file);
      FILE_DOWNLOAD_HEADER_T header{};
      if (!image || !ReadDownloadHeader(*image, header)) {
        run.exitCode = kExitBadInput;
        return;
      }
      fileHeader = header;
    }
    request->task = std::make_shared<IdentifyTask>(fileHeader);
    request->operationWord = "identify";
    run.exitCode = RunLine(*request);
  });
}

}  // namespace

void RegisterVerifyCommands(CLI::App& app, CommandRun& run) {
  RegisterVerify(app, run);
  RegisterIdentify(app, run);
}

}  // namespace vn

// vespanode-box: the virtual box on a pseudo-terminal, for trying the window and the command
// line without a box on the desk, and for scripts.
#include <CLI/CLI.hpp>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <set>
#include <thread>

#include "dld/blocks.h"
#include "dld/file_identity.h"
#include "dld/file_io.h"
#include "dld/region_sets.h"
#include "link/box_announce.h"
#include "link/message_trace.h"
#include "platform/console.h"
#include "platform/exit_codes.h"
#include "platform/file_kind.h"
#include "platform/file_system.h"
#include "sim/box_fault_option.h"
#include "sim/virtual_box.h"
#include "vespanode/version.h"

namespace {

namespace fs = std::filesystem;
using vn::kExitBadInput;
using vn::kExitFailed;
using vn::kExitOk;

void Complain(const std::string& text) {
  vn::WriteStandardError("vespanode-box: " + text + "\n");
}

// The symbolic link --link asks for, removed again when the box goes.
class PtyLink {
 public:
  bool Create(const std::string& path, const std::string& target, vn::Failure& failure) {
    std::error_code code;
    if (fs::is_symlink(path, code)) fs::remove(path, code);
    fs::create_symlink(target, path, code);
    if (code) {
      failure = vn::FailureOfErrno(code.value(), "cannot link", path);
      failure.systemMessage = code.message();
      return false;
    }
    path_ = path;
    target_ = target;
    return true;
  }
  ~PtyLink() {
    std::error_code code;
    // Only a link that still points at this box's pseudo-terminal is ours to remove.
    if (!path_.empty() && fs::read_symlink(path_, code) == target_) fs::remove(path_, code);
  }

 private:
  std::string path_;
  std::string target_;
};

// A whole number from `low` to `high`: `what` in a refusal, `help` in the help. CLI11's own checks
// take "1.5" for a number in range and spell out the largest double as a range's end.
CLI::Validator WholeNumber(int low, int high, const std::string& what, const std::string& help) {
  return CLI::Validator(
      [=](std::string& text) {
        return vn::WholeNumberIn(text, low, high) ? std::string()
                                                  : "needs " + what + ", not " + text;
      },
      help, "WholeNumber");
}

constexpr int kLongestFlashWorkMs = 60000;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The virtual box: the box's side of the serial protocol on a pseudo-terminal.",
               "vespanode-box"};
  app.set_version_flag("--version", std::string("vespanode-box ") + vn::kBuildVersion);
  vn::BoxOptions options;
  std::string flashFile, saveFlashFile, linkPath, traceFile;
  std::vector<std::string> faults;
  int eraseMs = int(options.eraseTime.count());
  int programMs = int(options.programTime.count());
  bool quiet = false;
  app.add_option("--manufacture-ident", options.identity.manufactureIdent,
                 "identity: manufacture ident (15 bytes at most)")
      ->capture_default_str();
  app.add_option("--hardware-module", options.identity.hardwareModule)->capture_default_str();
  app.add_option("--hardware-version", options.identity.hardwareVersion)->capture_default_str();
  app.add_option("--software-module", options.identity.softwareModule)->capture_default_str();
  app.add_option("--software-version", options.identity.softwareVersion)->capture_default_str();
  // An empty name names nothing: refused rather than taken as "no image" or "no link".
  const CLI::Validator named(
      [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "");
  app.add_option("--flash", flashFile, "initial flash image at 0x40000000 (2 MiB at most)")
      ->type_name("IMAGE")
      ->check(named);
  app.add_option("--save-flash", saveFlashFile, "write the image there after every download")
      ->type_name("IMAGE")
      ->check(named);
  app.add_flag("--pace", options.pace, "line-rate pacing: 115200 bit/s, 11 bits a byte");
  // The option keeps its name, which scripts use; it counts successful operations, not sessions.
  app.add_option("--sessions", options.stopAfterSuccesses,
                 "stop once N operations succeeded; failed ones do not count (0: never)")
      ->check(WholeNumber(0, std::numeric_limits<int>::max(), "a whole number, 0 or more",
                          "NONNEGATIVE"));
  app.add_option("--link", linkPath, "make PATH a symbolic link to the pseudo-terminal")
      ->type_name("PATH")
      ->check(named);
  const std::string longest = std::to_string(kLongestFlashWorkMs);
  const CLI::Validator flashWork =
      WholeNumber(0, kLongestFlashWorkMs, "a whole number of milliseconds from 0 to " + longest,
                  "INT in [0 - " + longest + "]");
  app.add_option("--erase-ms", eraseMs, "milliseconds to erase 64 KiB, before each erase report")
      ->check(flashWork)
      ->capture_default_str();
  app.add_option("--program-ms", programMs,
                 "milliseconds to program 64 KiB, before each program report")
      ->check(flashWork)
      ->capture_default_str();
  app.add_option("--fault", faults, "inject a fault, NAME or NAME=VALUE; repeatable")
      ->type_name("FAULT");
  app.add_option("--trace", traceFile,
                 "append every message sent and received to FILE (- for standard error)")
      ->type_name("FILE");
  app.add_flag("--quiet", quiet, "no line per session on standard error");
  app.footer("Faults (N counts from 1 within each session):\n" + vn::FaultOptionHelp());
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version succeed; any mistake in the arguments is bad input.
    return app.exit(e) == 0 ? kExitOk : kExitBadInput;
  }

  std::string error;
  std::set<std::string> faultsGiven;
  for (const std::string& fault : faults) {
    // Given twice, one of the two would silently not count.
    if (!faultsGiven.insert(fault.substr(0, fault.find('='))).second) {
      Complain("fault '" + fault.substr(0, fault.find('=')) + "' given twice");
      return kExitBadInput;
    }
    if (!vn::ApplyFaultOption(fault, options.faults, error)) {
      Complain(error);
      return kExitBadInput;
    }
  }
  // The image is saved after each download: what cannot take it is found now, as for any output,
  // not after the first box.
  if (!saveFlashFile.empty()) {
    if (const std::string kind = vn::NonFileProblem(saveFlashFile); !kind.empty()) {
      Complain(saveFlashFile + " " + kind);
      return kExitBadInput;
    }
    if (const int osError = vn::CannotWriteReason(vn::FollowLinks(saveFlashFile)); osError != 0) {
      Complain(vn::FailureText(vn::FailureOfErrno(osError, "cannot write", saveFlashFile)));
      return kExitBadInput;
    }
  }
  // A text longer than its header field could never be matched by a file.
  if (vn::Failure failure; !vn::IdentityFitsHeader(options.identity, &failure)) {
    Complain(vn::FailureText(failure));
    return kExitBadInput;
  }
  if (vn::Failure failure;
      !flashFile.empty() && !vn::ReadWholeFile(flashFile, options.flash, failure, vn::kFlashSize)) {
    Complain(vn::FailureText(failure));
    return kExitBadInput;
  }
  // The trace lives as long as the box that tells it of every message. One that cannot be
  // written is said once; the box goes on serving.
  std::unique_ptr<vn::LineLog> traceLog;
  std::unique_ptr<vn::TraceToLog> trace;
  if (!traceFile.empty()) {
    if (const vn::Failure failure =
            vn::TraceFileFailure(traceFile, {flashFile, saveFlashFile, linkPath});
        failure.Failed()) {
      Complain(vn::FailureText(failure));
      return kExitBadInput;
    }
    traceLog = std::make_unique<vn::LineLog>(traceFile, [traceFile](const vn::Failure& failure) {
      Complain("the trace " + traceFile + " is incomplete: " + vn::FailureText(failure));
    });
    trace = std::make_unique<vn::TraceToLog>(*traceLog, "");
    options.trace = trace.get();
  }
  options.eraseTime = std::chrono::milliseconds(eraseMs);
  options.programTime = std::chrono::milliseconds(programMs);
  const int successesWanted = options.stopAfterSuccesses;

  vn::VirtualBox* running = nullptr;
  std::atomic<int> sessions{0};
  options.onSessionEnd = [&](const vn::BoxSessionReport& report) {
    const int number = ++sessions;
    if (!quiet) {
      vn::WriteStandardError("session " + std::to_string(number) + ": " + report.summary + "\n");
    }
    if (report.completed && !report.upload && !saveFlashFile.empty()) {
      const std::vector<uint8_t> image = running->FlashCopy();
      vn::Failure failure;
      if (!vn::WriteFileAtomically(saveFlashFile, image, failure)) {
        Complain(vn::FailureText(failure));
      }
    }
  };

  // Before the box's threads start, so that a stop request reaches none of them. A stopped box
  // has done what it was asked: it ends with kExitOk, not the command line's kExitInterrupted.
  std::atomic<bool> stopRequested{false};
  const vn::StopRequests stops([&stopRequested] { stopRequested = true; });
  vn::VirtualBox box(std::move(options));
  running = &box;
  if (!box.Start()) {
    Complain(box.Stats().lastError);
    return kExitFailed;
  }
  PtyLink link;
  vn::Failure failure;
  if (!linkPath.empty() && !link.Create(linkPath, box.PtyPath(), failure)) {
    Complain(vn::FailureText(failure));
    return kExitFailed;
  }
  if (!vn::AnnounceBox(box.PtyPath(), &failure))
    Complain("cannot announce the box: " + vn::FailureText(failure));

  // Printed last: a script that sees this line finds the link and the announcement in place.
  std::printf("pty: %s\n", box.PtyPath().c_str());
  std::fflush(stdout);

  while (!stopRequested && box.Running()) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const bool interrupted = stopRequested;
  box.Stop();
  vn::WithdrawBox();
  const vn::BoxStats stats = box.Stats();
  if (stats.answersMissing > 0) {
    Complain(std::to_string(stats.answersMissing) + " answer(s) the PC owed never came");
    return kExitFailed;
  }
  if (interrupted) return kExitOk;
  if (successesWanted > 0 && stats.downloadsDone + stats.uploadsDone >= successesWanted) {
    return kExitOk;
  }
  // The serving thread ended by itself before its successes: the pseudo-terminal is gone.
  Complain(stats.lastError.empty() ? "the pseudo-terminal was closed" : stats.lastError);
  return kExitFailed;
}

#include "cli/production_line.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/event_json.h"
#include "cli/exit_codes.h"
#include "cli/port_reporter.h"
#include "dld/region_sets.h"
#include "link/message_trace.h"
#include "link/station.h"
#include "link/system_port.h"
#include "platform/append_line.h"
#include "platform/console.h"
#include "platform/file_digest.h"
#include "platform/file_kind.h"
#include "platform/program_dir.h"

namespace vn {
namespace {

struct PortRun {
  std::unique_ptr<PortReporter> reporter;
  std::unique_ptr<Station> station;
  bool opened = false;
  bool portLost = false;
};

OutputMode ChooseMode(bool json) {
  if (json) return OutputMode::kJson;
  return IsTerminal(stdout) ? OutputMode::kTerminal : OutputMode::kPlain;
}

std::string BoxCount(int count) {
  return std::to_string(count) + (count == 1 ? " box" : " boxes");
}

void PrintSummary(LineOutput& output, const std::string& port, const PortRun& run) {
  const LoopResult& result = run.station->Result();
  if (output.Mode() == OutputMode::kJson) {
    // "stopped" has always counted a port that went away too; "portLost" tells the two apart.
    const bool ended = result.end == LoopEnd::kStopped || result.end == LoopEnd::kPortLost;
    output.PrintLine(
        SummaryJson(port, result.boxesDone, result.boxesFailed, run.opened, ended, run.portLost));
    return;
  }
  std::string line = port + ": ";
  if (!run.opened) {
    line += "not opened";
  } else {
    line += BoxCount(result.boxesDone) + " done, " + std::to_string(result.boxesFailed) + " failed";
    if (run.portLost) line += ", the port went away";
  }
  output.PrintLine(line);
}

// A record that is the file sent or written would spoil it; one that cannot be appended to would
// send a whole shift's records to standard error. Both are found before any box is asked.
// Empty when the record may be used.
std::string RecordProblem(const LineRequest& request, const std::atomic<bool>& stop) {
  const std::string file = FollowLinks(request.file);
  for (const std::string& used : {file, file + ".partial"}) {
    if (SameFile(request.recordFile, used)) {
      return "the record " + request.recordFile + " would be written into " + used;
    }
  }
  Failure failure;
  if (!CanAppendLines(request.recordFile, failure, &stop)) {
    failure.action = "cannot add to the record";
    failure.subject = request.recordFile;
    return FailureText(failure);
  }
  return {};
}

}  // namespace

int RunLine(const LineRequest& request) {
  const bool download = request.operation == Operation::kDownload;
  const bool several = request.ports.size() > 1;
  // A summary is worth its lines when there is more than one box or port to sum up.
  const bool summarize = several || request.boxes != 1 || request.keepGoing;
  std::string fileSha256;
  if (download) {
    // The digest of the bytes sent, not of the file on disk, which may change during the run.
    Failure failure{.kind = FailureKind::kOther};  // no image: nothing read at all
    if (!request.image || ((!request.recordFile.empty() || request.json) &&
                           !BufferSha256(*request.image, fileSha256, failure))) {
      failure.action = "cannot read";
      failure.subject = request.file;
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(failure).c_str());
      return kExitBadInput;
    }
  }
  // Set by a stop request (below); a wait for the record's lock ends on it.
  std::atomic<bool> interrupted{false};
  if (!request.recordFile.empty()) {
    if (const std::string problem = RecordProblem(request, interrupted); !problem.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", problem.c_str());
      return kExitBadInput;
    }
  }
  std::unique_ptr<LineLog> traceLog;
  std::vector<std::unique_ptr<TraceToLog>> traces;
  if (!request.traceFile.empty()) {
    const std::string file = FollowLinks(request.file);
    if (const Failure failure =
            TraceFileFailure(request.traceFile, {file, file + ".partial", request.recordFile});
        failure.Failed()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(failure).c_str());
      return kExitBadInput;
    }
    // A trace that cannot be written is said once; the boxes are served all the same.
    traceLog = std::make_unique<LineLog>(
        request.traceFile, [trace = request.traceFile](const Failure& failure) {
          WriteStandardError("vespanode-cli: the trace " + trace +
                             " is incomplete: " + FailureText(failure) + "\n");
        });
  }
  const OutputMode mode = ChooseMode(request.json);
  LineOutput output(stdout, stderr, mode, int(request.ports.size()),
                    mode == OutputMode::kTerminal ? TerminalColumns(stdout) : 0);

  std::vector<PortRun> runs(request.ports.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    PortRun& run = runs[i];
    PortSetup setup;
    setup.port = request.ports[i];
    setup.row = int(i);
    setup.several = several;
    setup.operation = request.operation;
    setup.file = request.file;
    setup.fileSha256 = fileSha256;
    setup.recordFile = request.recordFile;
    setup.stop = &interrupted;
    run.reporter = std::make_unique<PortReporter>(output, setup);
    run.station = std::make_unique<Station>(MakeSystemComPort(), *run.reporter, ProgramDir());
    // Both live as long as the run: the reporter reads the header the driver keeps.
    run.reporter->SetHeader(&run.station->Driver().CurrentHeader());
    if (traceLog) {
      traces.push_back(std::make_unique<TraceToLog>(*traceLog, several ? setup.port : ""));
      run.station->Port().Tally().SetObserver(traces.back().get());
    }
    if (download && !run.station->Driver().UseDownloadImage(request.image)) {
      std::fprintf(stderr, "vespanode-cli: cannot read %s\n", request.file.c_str());
      return kExitBadInput;
    }
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    PortRun& run = runs[i];
    run.opened = run.station->Open(request.ports[i]);
    if (!run.opened) {
      output.PrintError("vespanode-cli: cannot open port " + request.ports[i] + " (" +
                        ComDeviceName(request.ports[i]) +
                        "): " + DescribePortFailure(run.station->Port().LastOpenFailure()));
    }
  }
  int openedCount = 0;
  for (const PortRun& run : runs) openedCount += run.opened ? 1 : 0;
  if (openedCount == 0) return kExitBadInput;

  // A stop request (SIGINT, SIGTERM, Ctrl+C) acts as the window's Reset on every port. A reader
  // that goes away (`| head`) does not end the program halfway through flashing a box either:
  // the operation runs to its end and the exit code still tells how it went. The requests end
  // before the stations.
  const StopRequests stops([&interrupted, &runs] {
    interrupted = true;
    for (PortRun& run : runs) run.station->RequestStop();
  });
  const auto stallLimit = std::chrono::milliseconds(int64_t(request.stallSeconds * 1000.0));
  for (PortRun& run : runs) {
    if (!run.opened) continue;
    StationJob job(request.operation, request.file, request.boxes);
    job.options.keepGoing = request.keepGoing;
    job.options.stallLimit = stallLimit;
    run.station->Start(std::move(job));
  }
  bool allSucceeded = openedCount == int(runs.size());
  for (PortRun& run : runs) {
    if (!run.opened) continue;
    run.station->Wait();
    run.portLost = run.station->Result().end == LoopEnd::kPortLost && !interrupted;
    run.station->Close();
    run.reporter->FinishRun();
    const LoopResult& result = run.station->Result();
    if (result.boxesFailed > 0 || result.end != LoopEnd::kDone || run.reporter->RecordLost()) {
      allSucceeded = false;
    }
  }
  output.TakeDownBoard();
  if (summarize || request.json) {
    for (size_t i = 0; i < runs.size(); ++i) PrintSummary(output, request.ports[i], runs[i]);
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    // With a summary, the summary says it.
    if (runs[i].portLost && !request.json && !summarize) {
      output.PrintError("vespanode-cli: the port " + request.ports[i] + " went away");
    }
  }
  if (interrupted) {
    int done = 0;
    for (const PortRun& run : runs) done += run.station->Result().boxesDone;
    output.PrintError("vespanode-cli: stopped after " + std::to_string(done) + " box(es)");
    return kExitInterrupted;
  }
  return allSucceeded ? kExitOk : kExitFailed;
}

}  // namespace vn

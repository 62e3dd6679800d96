#include "cli/production_line.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>

#include "cli/event_json.h"
#include "cli/json_fields.h"
#include "cli/line_page.h"
#include "cli/port_reporter.h"
#include "dld/region_sets.h"
#include "link/message_trace.h"
#include "link/station.h"
#include "link/system_port.h"
#include "platform/console.h"
#include "platform/exit_codes.h"
#include "platform/file_digest.h"
#include "platform/file_kind.h"
#include "platform/program_dir.h"
#include "records/record_sink.h"
#include "records/record_target.h"

namespace vn {
namespace {

struct PortRun {
  std::unique_ptr<PortReporter> reporter;
  std::unique_ptr<Station> station;
  bool opened = false;
  bool portLost = false;
  std::string openProblem;  // why the port could not be opened
};

OutputMode ChooseMode(bool json) {
  if (json) return OutputMode::kJson;
  return IsTerminal(stdout) ? OutputMode::kTerminal : OutputMode::kPlain;
}

std::string BoxCount(int count) {
  return std::to_string(count) + (count == 1 ? " box" : " boxes");
}

// A port that was never opened ran nothing: the result of its station is the empty one.
const LoopResult& ResultOf(const PortRun& run) {
  static const LoopResult unopened{};
  return run.opened ? run.station->Result() : unopened;
}

// "stopped" has always counted a port that went away too; "portLost" tells the two apart.
std::string SummaryObject(const std::string& port, const PortRun& run) {
  const LoopResult& result = ResultOf(run);
  const std::string& detail = run.opened ? result.detail : run.openProblem;
  const bool ended = result.end == LoopEnd::kStopped || result.end == LoopEnd::kPortLost;
  return SummaryJson(port, result.boxesDone, result.boxesFailed, run.opened, ended, run.portLost,
                     detail);
}

void PrintSummary(LineOutput& output, const std::string& port, const PortRun& run) {
  const LoopResult& result = ResultOf(run);
  if (output.Mode() == OutputMode::kJson) {
    output.PrintLine(SummaryObject(port, run));
    return;
  }
  std::string line = port + ": ";
  if (!run.opened) {
    line += "not opened";
  } else {
    line += BoxCount(result.boxesDone) + " done, " + std::to_string(result.boxesFailed) + " failed";
    if (run.portLost) {
      line += result.lostUnderBox ? ", the port went away under a box"
                                  : ", the port went away while no box was attached";
    }
  }
  output.PrintLine(line);
}

// The files a run reads or writes, links followed, with the partial files beside them.
std::vector<std::string> OutputsOf(const LineRequest& request) {
  std::vector<std::string> files;
  for (const std::string& given : {request.file, request.saveFile}) {
    if (given.empty()) continue;
    const std::string file = FollowLinks(given);
    files.insert(files.end(), {file, file + ".partial"});
  }
  return files;
}

// A record that is the file sent or written would spoil it; one that cannot be written would send
// a whole shift's records to standard error or to the spool. Both are found before any box is
// asked. Empty when the record may be used.
std::string RecordProblem(const LineRequest& request, const RecordTarget& target,
                          RecordSink& records) {
  for (const std::string& used : OutputsOf(request)) {
    if (target.kind != RecordTargetKind::kPostgres && SameFile(target.location, used)) {
      return "the record " + target.shown + " would be written into " + used;
    }
  }
  if (const Failure failure = records.Open(); failure.Failed()) return FailureText(failure);
  return {};
}

}  // namespace

int RunLine(const LineRequest& request) {
  // A download sends its file; a task may compare boxes with one.
  const bool download = request.operation == Operation::kDownload && !request.task;
  const bool withImage = download || request.image;
  const bool several = request.ports.size() > 1;
  // A summary is worth its lines when there is more than one box or port to sum up.
  const bool summarize = several || request.boxes != 1 || request.keepGoing;
  std::string fileSha256;
  if (withImage) {
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
  const OutputMode mode = ChooseMode(request.json);
  LineOutput output(stdout, stderr, mode, int(request.ports.size()),
                    mode == OutputMode::kTerminal ? TerminalColumns(stdout) : 0);
  // Set by a stop request (below); a wait for the record's lock, or for a database, ends on it.
  std::atomic<bool> interrupted{false};
  std::unique_ptr<RecordSink> records;
  if (!request.recordFile.empty()) {
    const RecordTarget target = ParseRecordTarget(request.recordFile);
    if (const std::string warning = PasswordWarning(target); !warning.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", warning.c_str());
    }
    // A database's records are written by a thread of the sink's own, which tells from there.
    const auto tell = [&output](const std::string& say, const nlohmann::ordered_json* lost) {
      output.PrintError("vespanode-cli: " + say);
      if (lost) output.PrintError(OneLine(*lost));
    };
    records = std::make_unique<RecordSink>(target, MakeRecordStore(target, &interrupted), tell);
    if (const std::string problem = RecordProblem(request, target, *records); !problem.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", problem.c_str());
      return kExitBadInput;
    }
  }
  std::unique_ptr<LineLog> traceLog;
  std::vector<std::unique_ptr<TraceToLog>> traces;
  if (!request.traceFile.empty()) {
    std::vector<std::string> kept = OutputsOf(request);
    kept.push_back(request.recordFile);
    if (const Failure failure = TraceFileFailure(request.traceFile, kept); failure.Failed()) {
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
  // The page's port is had before any box is asked, or the run does not begin.
  std::unique_ptr<LinePage> page;
  if (!request.httpAddress.empty()) {
    std::string problem;
    page = LinePage::Open(request, fileSha256, problem);
    if (!page) {
      std::fprintf(stderr, "vespanode-cli: %s\n", problem.c_str());
      return kExitBadInput;
    }
    std::fprintf(stderr, "vespanode-cli: the line page is at %s\n", page->Url().c_str());
  }
  std::vector<PortRun> runs(request.ports.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    PortRun& run = runs[i];
    PortSetup setup;
    setup.port = request.ports[i];
    setup.row = int(i);
    setup.several = several;
    setup.operation = request.operation;
    setup.operationWord = request.operationWord;
    setup.task = request.task.get();
    setup.file = request.file;
    setup.fileSha256 = fileSha256;
    setup.records = records.get();
    setup.stop = &interrupted;
    setup.tee = page.get();
    run.reporter = std::make_unique<PortReporter>(output, setup);
    run.station = std::make_unique<Station>(MakeSystemComPort(), *run.reporter, ProgramDir());
    // Both live as long as the run: the reporter reads the header the driver keeps.
    run.reporter->SetHeader(&run.station->CurrentHeader());
    if (traceLog) {
      traces.push_back(std::make_unique<TraceToLog>(*traceLog, several ? setup.port : ""));
      run.station->TraceMessages(traces.back().get());
    }
    if (withImage && !run.station->UseDownloadImage(request.image)) {
      std::fprintf(stderr, "vespanode-cli: cannot read %s\n", request.file.c_str());
      return kExitBadInput;
    }
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    PortRun& run = runs[i];
    run.opened = run.station->Open(request.ports[i]);
    if (!run.opened) {
      run.openProblem = "cannot open port " + request.ports[i] + " (" +
                        ComDeviceName(request.ports[i]) +
                        "): " + DescribePortFailure(run.station->LastOpenFailure());
      output.PrintError("vespanode-cli: " + run.openProblem);
      if (request.json) output.PrintLine(DetailJson(request.ports[i], 0, "error", run.openProblem));
      // The page shows the port closed, with why, for the whole run.
      if (page) {
        page->Take(DetailJson(request.ports[i], 0, "error", run.openProblem));
        page->Take(SummaryObject(request.ports[i], run));
      }
    }
  }
  int openedCount = 0;
  for (const PortRun& run : runs) openedCount += run.opened ? 1 : 0;
  if (openedCount == 0) {
    // A program reading the stream learns why nothing ran, port by port, as after any run.
    if (request.json) {
      for (size_t i = 0; i < runs.size(); ++i) PrintSummary(output, request.ports[i], runs[i]);
    }
    return kExitBadInput;
  }

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
    job.options.task = request.task;
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
  // Records the database did not take during the run get one more chance; those still spooled
  // make the run a failure, and the message says where they wait, as do records that could not
  // even be spooled.
  if (records) {
    const RecordSink::Outcome outcome = records->Finish();
    if (!outcome.say.empty()) output.PrintError("vespanode-cli: " + outcome.say);
    if (records->Left() > 0 || records->Lost() > 0) allSucceeded = false;
  }
  if (summarize || request.json) {
    for (size_t i = 0; i < runs.size(); ++i) PrintSummary(output, request.ports[i], runs[i]);
  }
  if (page) {
    for (size_t i = 0; i < runs.size(); ++i) {
      if (runs[i].opened) page->Take(SummaryObject(request.ports[i], runs[i]));
    }
    page->Flush();
  }
  for (size_t i = 0; i < runs.size(); ++i) {
    // With a summary, the summary says it.
    if (runs[i].portLost && !request.json && !summarize) {
      output.PrintError("vespanode-cli: the port " + request.ports[i] + " went away");
    }
  }
  if (interrupted) {
    // Every box served counts, failed ones too; one the stop cut short is neither.
    int done = 0;
    int failed = 0;
    for (const PortRun& run : runs) {
      done += ResultOf(run).boxesDone;
      failed += ResultOf(run).boxesFailed;
    }
    output.PrintError("vespanode-cli: stopped after " + BoxCount(done + failed) + " served: " +
                      std::to_string(done) + " done, " + std::to_string(failed) + " failed");
    return kExitInterrupted;
  }
  return allSucceeded ? kExitOk : kExitFailed;
}

}  // namespace vn

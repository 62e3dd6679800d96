// `report`: the line's yield and failures over any mix of record files and databases.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/json_fields.h"
#include "cli/option_checks.h"
#include "cli/report_text.h"
#include "platform/atomic_file.h"
#include "platform/exit_codes.h"
#include "platform/file_kind.h"
#include "records/display_text.h"
#include "records/record_sink.h"
#include "records/report_tally.h"

namespace vn {
namespace {

struct ReportRequest {
  std::vector<std::string> sources;
  std::string since;
  std::string until;
  std::string port;
  std::string firmware;
  std::string operation = "download";
  bool json = false;
  std::string html;
};

CLI::Validator Checked(std::function<std::string(const std::string&)> problem, const char* name) {
  return CLI::Validator([problem](std::string& text) { return problem(text); }, name, name);
}

CLI::Validator TimeValue() {
  return Checked(
      [](const std::string& text) {
        return NormalizedTime(text).empty()
                   ? std::string(
                         "needs a UTC time that exists: 2026-12-08, 2026-12-08T10:30 or "
                         "2026-12-08T10:30:00Z (or with an offset, +02:00)")
                   : std::string();
      },
      "TIME");
}

// The page written over a source would destroy the records it was made from: refused before
// anything is read or written, under any name of the source (a link, a hard link, ./name).
std::string PageProblem(const std::string& page, const std::vector<RecordTarget>& sources) {
  if (page.empty()) return {};
  for (const RecordTarget& source : sources) {
    if (source.kind != RecordTargetKind::kPostgres && SameFile(source.location, page)) {
      return "the page " + page + " would be written over the source " + source.shown;
    }
  }
  return {};
}

void SayWhatWasLeftOut(const RecordTarget& source, const SkippedLines& skipped) {
  if (skipped.count == 0) return;
  std::string said = std::to_string(skipped.count) + " line(s) that are no record were left out";
  if (skipped.badTimes > 0) {
    said += ", " + std::to_string(skipped.badTimes) + " of them with a time that cannot be read (" +
            DisplayText(skipped.firstBadTime) + ")";
  }
  std::fprintf(stderr, "vespanode-cli: %s: %s\n", source.shown.c_str(), said.c_str());
}

// Every source into the tally; false (said) when one cannot be read.
bool ReadSources(const std::vector<RecordTarget>& sources, const ReportFilter& filter,
                 ReportTally& tally, bool oneDatabase) {
  for (const RecordTarget& source : sources) {
    if (const std::string warning = PasswordWarning(source); !warning.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", warning.c_str());
    }
    SkippedLines skipped;
    // A database read alone holds each record once: it groups the boxes itself.
    const bool grouped = oneDatabase && filter.firmware.empty();
    const Failure failure =
        grouped
            ? TallyDatabase(source, filter, tally, skipped)
            : ReadReportSource(
                  source, filter, [&tally](const BoxFacts& facts) { tally.Add(facts); }, skipped);
    if (failure.Failed()) {
      Failure named = failure;
      if (named.subject.empty()) named.subject = source.shown;
      if (named.action.empty()) named.action = "cannot read";
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(named).c_str());
      return false;
    }
    SayWhatWasLeftOut(source, skipped);
  }
  if (tally.Conflicts() > 0) {
    std::fprintf(stderr,
                 "vespanode-cli: %lld record id(s) came with different contents: of each, the "
                 "copy that ended last was counted\n",
                 (long long)tally.Conflicts());
  }
  return true;
}

int RunReport(const ReportRequest& request) {
  ReportFilter filter;
  filter.since = request.since.empty() ? "" : NormalizedTime(request.since);
  filter.until = request.until.empty() ? "" : NormalizedTime(request.until);
  filter.port = request.port;
  filter.firmware = request.firmware;
  filter.operation = request.operation;
  std::vector<RecordTarget> sources;
  std::vector<std::string> shown;
  for (const std::string& text : request.sources) {
    sources.push_back(ParseRecordTarget(text));
    shown.push_back(sources.back().shown);
  }
  if (const std::string problem = PageProblem(request.html, sources); !problem.empty()) {
    std::fprintf(stderr, "vespanode-cli: %s\n", problem.c_str());
    return kExitBadInput;
  }
  const bool oneDatabase = sources.size() == 1 && sources[0].kind != RecordTargetKind::kJsonLines;
  ReportTally tally(filter, !oneDatabase);
  if (!ReadSources(sources, filter, tally, oneDatabase)) return kExitBadInput;
  const nlohmann::ordered_json report = tally.Report(shown);
  if (!request.html.empty()) {
    const std::string page = ReportHtml(report);
    Failure failure;
    if (!WriteFileAtomically(
            request.html, {reinterpret_cast<const uint8_t*>(page.data()), page.size()}, failure)) {
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(failure).c_str());
      return kExitBadInput;
    }
  }
  const std::string text = request.json ? OneLine(report) + "\n" : ReportText(report);
  std::fputs(text.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void RegisterReportCommand(CLI::App& app, CommandRun& run) {
  auto request = std::make_shared<ReportRequest>();
  auto* command = app.add_subcommand(
      "report", "Count boxes, yield and failures over record files and databases");
  command
      ->add_option("SOURCE", request->sources,
                   "JSON-lines record file, SQLite database (.sqlite, .db, sqlite:PATH) or "
                   "PostgreSQL URL; a box found in several is counted once")
      ->required()
      ->check(NonEmptyName());
  command->add_option("--since", request->since, "Only boxes started at or after this UTC time")
      ->check(TimeValue());
  command->add_option("--until", request->until, "Only boxes started before this UTC time")
      ->check(TimeValue());
  command->add_option("--port", request->port, "Only boxes served on this port")
      ->check(NonEmptyName());
  command
      ->add_option("--firmware", request->firmware,
                   "Only boxes given this file: a SHA-256 prefix (4 hex digits or more), a file "
                   "name or a path")
      ->check(NonEmptyName())
      ->check(Checked(FirmwareFilterProblem, "FIRMWARE"));
  command
      ->add_option("--operation", request->operation,
                   "The boxes the figures count: download (the default), upload, verify, "
                   "identify or all; every operation has its row in the breakdown")
      ->check(CLI::IsMember({"download", "upload", "verify", "identify", "all"}));
  command->add_flag("--json", request->json, "Print one JSON object");
  command->add_option("--html", request->html, "Also write the report as an HTML page")
      ->check(NonEmptyName());
  command->callback([request, &run] {
    if (!run.parseOnly) run.exitCode = RunReport(*request);
  });
}

}  // namespace vn

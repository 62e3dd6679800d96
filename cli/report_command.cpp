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
  bool json = false;
  std::string html;
};

CLI::Validator TimeValue() {
  return CLI::Validator(
      [](std::string& text) {
        return NormalizedTime(text).empty()
                   ? std::string(
                         "needs a UTC time: 2026-12-08, 2026-12-08T10:30 or "
                         "2026-12-08T10:30:00Z")
                   : std::string();
      },
      "TIME", "TimeValue");
}

int RunReport(const ReportRequest& request) {
  ReportFilter filter;
  filter.since = request.since.empty() ? "" : NormalizedTime(request.since);
  filter.until = request.until.empty() ? "" : NormalizedTime(request.until);
  filter.port = request.port;
  filter.firmware = request.firmware;
  const bool oneDatabase =
      request.sources.size() == 1 &&
      ParseRecordTarget(request.sources[0]).kind != RecordTargetKind::kJsonLines;
  ReportTally tally(!oneDatabase);
  std::vector<std::string> shown;
  for (const std::string& text : request.sources) {
    const RecordTarget source = ParseRecordTarget(text);
    if (const std::string warning = PasswordWarning(source); !warning.empty()) {
      std::fprintf(stderr, "vespanode-cli: %s\n", warning.c_str());
    }
    shown.push_back(source.shown);
    int64_t skipped = 0;
    // A database read alone holds each record once: it groups the boxes itself.
    const bool grouped = oneDatabase && filter.firmware.empty();
    const Failure failure =
        grouped
            ? TallyDatabase(source, filter, tally)
            : ReadReportSource(
                  source, filter, [&tally](const BoxFacts& facts) { tally.Add(facts); }, skipped);
    if (failure.Failed()) {
      Failure named = failure;
      if (named.subject.empty()) named.subject = source.shown;
      if (named.action.empty()) named.action = "cannot read";
      std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(named).c_str());
      return kExitBadInput;
    }
    if (skipped > 0) {
      std::fprintf(stderr, "vespanode-cli: %s: %lld line(s) that are no record were left out\n",
                   source.shown.c_str(), (long long)skipped);
    }
  }
  const nlohmann::ordered_json report = tally.Report(shown, filter);
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
                   "Only boxes given this file: a SHA-256 prefix, a file name or a path")
      ->check(NonEmptyName());
  command->add_flag("--json", request->json, "Print one JSON object");
  command->add_option("--html", request->html, "Also write the report as an HTML page")
      ->check(NonEmptyName());
  command->callback([request, &run] {
    if (!run.parseOnly) run.exitCode = RunReport(*request);
  });
}

}  // namespace vn

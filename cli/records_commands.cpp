// `records flush TARGET`: writes the records that wait in the spool for a database.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "cli/option_checks.h"
#include "platform/exit_codes.h"
#include "records/record_sink.h"

namespace vn {
namespace {

int RunFlush(const std::string& text) {
  const RecordTarget target = ParseRecordTarget(text);
  if (const std::string warning = PasswordWarning(target); !warning.empty()) {
    std::fprintf(stderr, "vespanode-cli: %s\n", warning.c_str());
  }
  if (target.kind == RecordTargetKind::kJsonLines) {
    std::fprintf(stderr,
                 "vespanode-cli: %s is a JSON-lines file: only a database's records are "
                 "spooled\n",
                 target.shown.c_str());
    return kExitBadInput;
  }
  // What the writing of the spool meets on the way (lines that are no record) is said.
  const auto tell = [](const std::string& say, const nlohmann::ordered_json*) {
    std::fprintf(stderr, "vespanode-cli: %s\n", say.c_str());
  };
  // A mistyped name is said, not made into a database that nothing waits for.
  RecordSink records(target, MakeRecordStore(target, nullptr, MissingDatabase::kRefuse), tell);
  // Open writes what the spool holds, once the database answers.
  if (const Failure failure = records.Open(); failure.Failed()) {
    std::fprintf(stderr, "vespanode-cli: %s\n", FailureText(failure).c_str());
    return kExitBadInput;
  }
  const RecordSink::Outcome outcome = records.Finish();
  if (!outcome.say.empty()) std::fprintf(stderr, "vespanode-cli: %s\n", outcome.say.c_str());
  if (records.Left() > 0) return kExitFailed;
  std::printf("%s: %d spooled record(s) written; no records wait in the spool\n",
              target.shown.c_str(), records.Replayed());
  return kExitOk;
}

}  // namespace

void RegisterRecordsCommands(CLI::App& app, CommandRun& run) {
  auto* records = app.add_subcommand("records", "Records that wait for a database");
  records->require_subcommand(1);
  auto target = std::make_shared<std::string>();
  auto* flush = records->add_subcommand(
      "flush", "Write the records spooled while the database could not take them");
  flush
      ->add_option("TARGET", *target,
                   "SQLite database (.sqlite, .db, sqlite:PATH) or PostgreSQL URL")
      ->required()
      ->check(NonEmptyName());
  flush->callback([target, &run] {
    if (!run.parseOnly) run.exitCode = RunFlush(*target);
  });
}

}  // namespace vn

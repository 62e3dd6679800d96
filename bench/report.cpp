// bench_report: the report over a million records, from an SQLite file and from a JSON-lines
// file, timed as the user runs it (vespanode-cli report --json) against a plain
// `SELECT count(*)` over the same table. Targets: under 5 s and 200 MB for either source. Then the
// same records spooled for a new SQLite file and written by `records flush`: its time, and its
// peak memory, which must not grow with the spool (under 200 MB).
//   bench_report [--records N] [--keep]
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bench_args.h"
#include "records/box_columns.h"
#include "records/record_spool.h"
#include "records/sqlite_store.h"
#include "support/our_program.h"
#include "support/scratch_folder.h"

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;
using json = nlohmann::ordered_json;

// What a line of 8 stations writes over a few weeks: ports, hours, results and failures spread
// the way a real line's are, each record as the tool writes it.
json MakeRecord(int n, std::mt19937& random) {
  static const char* const kKinds[] = {"no-answer", "identity-refused", "program-failed",
                                       "port-lost", "damaged-data"};
  const int station = n % 8;
  const int64_t second = int64_t(n) * 2;  // a box every 2 s across the line
  char start[32];
  const time_t when = time_t(1796000000 + second);
  std::strftime(start, sizeof start, "%Y-%m-%dT%H:%M:%S.000Z", std::gmtime(&when));
  const int roll = int(random() % 1000);
  const bool failed = roll < 30;
  const bool stopped = roll >= 30 && roll < 33;
  char id[40];
  std::snprintf(id, sizeof id, "%08x-%04x-4%03x-8%03x-%012x", unsigned(n),
                unsigned(random() & 0xffff), unsigned(random() & 0xfff), unsigned(random() & 0xfff),
                unsigned(n * 7));
  return {{"schema", 2},
          {"recordId", id},
          {"host", "line-pc-" + std::to_string(station / 4 + 1)},
          {"start", start},
          {"end", start},
          {"port", "/dev/ttyUSB" + std::to_string(station % 4)},
          {"operation", "download"},
          {"box", n / 8 + 1},
          {"file", n % 3 == 0 ? "/srv/line/app-3.1.05.dld" : "/srv/line/app-3.1.06.dld"},
          {"sha256", std::string(n % 3 == 0 ? "5d1c" : "a9e0") + std::string(60, '7')},
          {"header",
           {{"identForNocheck", 0},
            {"manufactureIdent", "VESPANODE-LAB"},
            {"hardwareModule", "VN-HW1"},
            {"hardwareVersion", "1.00"},
            {"softwareModule", "VN-SW1"},
            {"softwareVersion", "3.1.05"},
            {"kindCode", 4},
            {"partitionCount", 1}}},
          {"result", failed    ? "failure"
                     : stopped ? "stopped"
                               : "success"},
          {"failureKind", failed    ? json(kKinds[roll % 5])
                          : stopped ? json("stopped")
                                    : json(nullptr)},
          {"failure", failed ? json("Connect Fail!") : json(nullptr)},
          {"reason", nullptr},
          {"phase", failed ? "connect" : "program"},
          {"bytesSent", 1234567},
          {"bytesReceived", 2345},
          {"framesResent", roll % 3},
          {"naksSent", 0},
          {"naksReceived", roll % 2},
          {"timeouts", 0},
          {"meanAnswerDelayMs", 1.5},
          {"seconds", 40.0 + double(roll % 200) / 10},
          {"efficiency", 0.7 + double(roll % 290) / 1000},
          {"regionsChecked", nullptr},
          {"regionsDiffering", nullptr}};
}

bool MakeSources(int count, const std::string& lines, const std::string& database) {
  SqliteStore store(database);
  if (store.Open().Failed()) return false;
  sqlite3* db = nullptr;
  sqlite3_open(database.c_str(), &db);
  std::string names, places;
  for (const BoxColumn& column : BoxColumns()) {
    names += std::string(names.empty() ? "" : ",") + column.name;
    places += places.empty() ? "?" : ",?";
  }
  sqlite3_stmt* insert = nullptr;
  sqlite3_prepare_v2(db, ("INSERT INTO boxes (" + names + ") VALUES (" + places + ")").c_str(), -1,
                     &insert, nullptr);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  std::ofstream out(lines, std::ios::binary);
  std::mt19937 random(7);
  for (int n = 0; n < count; ++n) {
    const json record = MakeRecord(n, random);
    out << record.dump() << '\n';
    const std::vector<ColumnValue> values = BoxColumnValues(record);
    sqlite3_reset(insert);
    sqlite3_clear_bindings(insert);
    for (size_t i = 0; i < values.size(); ++i) {
      if (!values[i].null) {
        sqlite3_bind_text(insert, int(i) + 1, values[i].text.c_str(), -1, SQLITE_TRANSIENT);
      }
    }
    if (sqlite3_step(insert) != SQLITE_DONE) return false;
  }
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_finalize(insert);
  sqlite3_close(db);
  return bool(out.flush());
}

struct Timed {
  double seconds = 0;
  double cpu = 0;  // user and system: what the machine's other work does not inflate
  long peakKiB = 0;
  int exitCode = -1;
};

// The command as a user runs it: its wall time and its own peak memory.
Timed RunCommand(const char* command, const char* option, const std::string& source) {
  const std::string cli = testing::OurProgram("vespanode-cli");
  const auto start = Clock::now();
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!std::freopen("/dev/null", "w", stdout)) _exit(127);
    execl(cli.c_str(), cli.c_str(), command, option, source.c_str(), nullptr);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  Timed timed;
  timed.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  timed.peakKiB = usage.ru_maxrss;
  timed.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  timed.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return timed;
}

Timed RunReport(const std::string& source) {
  return RunCommand("report", "--json", source);
}

// The records of `lines` spooled for a new SQLite file in `folder`, as a run leaves them when
// the database is away, then written by `records flush`.
Timed FlushSpool(const std::string& lines, const std::string& folder) {
  namespace fs = std::filesystem;
  const std::string database = folder + "/flushed.sqlite";
  std::ofstream{database};  // there, empty: flush writes only to a database that is
  ::setenv("XDG_STATE_HOME", (folder + "/state").c_str(), 1);
  const RecordSpool spool(ParseRecordTarget(database));
  std::error_code error;
  fs::create_directories(fs::path(spool.Path()).parent_path(), error);
  for (const std::string& made : {folder + "/state/vespanode", SpoolFolder()}) {
    fs::permissions(made, fs::perms::owner_all, error);
  }
  fs::copy_file(lines, spool.Path(), fs::copy_options::overwrite_existing, error);
  return RunCommand("records", "flush", database);
}

double CountSeconds(const std::string& database) {
  sqlite3* db = nullptr;
  sqlite3_open_v2(database.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  const auto start = Clock::now();
  sqlite3_exec(db, "SELECT count(*) FROM boxes", nullptr, nullptr, nullptr);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  sqlite3_close(db);
  return seconds;
}

}  // namespace
}  // namespace vn

int main(int argc, char** argv) {
  int count = 1000000;
  bool keep = false;
  vn::BenchArgs args(argc, argv);
  while (args.Next()) {
    if (args.Is("--keep")) {
      keep = true;
    } else if (!args.Number("--records", 1, 100000000, count)) {
      std::fprintf(stderr, "usage: bench_report [--records N] [--keep]\n");
      return 2;
    }
  }
  vn::testing::ScratchFolder scratch;
  // --keep: the records stay in the current folder, for timing the report by hand.
  const std::string folder = keep ? "." : scratch.Path();
  const std::string lines = folder + "/line.jsonl";
  const std::string database = folder + "/line.sqlite";
  const auto made = vn::Clock::now();
  if (!vn::MakeSources(count, lines, database)) {
    std::fprintf(stderr, "bench_report: could not write the records\n");
    return 1;
  }
  std::printf("%d records made in %.1f s\n", count,
              std::chrono::duration<double>(vn::Clock::now() - made).count());
  // The file cache warmed for both, as on a PC that just wrote them.
  vn::CountSeconds(database);
  const double count1 = vn::CountSeconds(database);
  const vn::Timed sqlite = vn::RunReport(database);
  const vn::Timed jsonLines = vn::RunReport(lines);
  std::printf("SELECT count(*): %.3f s\n", count1);
  std::printf("%-12s %9s %9s %12s %10s %s\n", "source", "seconds", "CPU s", "x count(*)",
              "peak MiB", "target");
  for (const auto& [name, timed] : {std::pair{"SQLite", sqlite}, {"JSON lines", jsonLines}}) {
    const bool met = timed.exitCode == 0 && timed.seconds < 5 && timed.peakKiB < 200 * 1024;
    std::printf("%-12s %9.2f %9.2f %12.1f %10.1f %s\n", name, timed.seconds, timed.cpu,
                timed.seconds / std::max(count1, 1e-6), double(timed.peakKiB) / 1024,
                timed.exitCode != 0 ? "report failed"
                : met               ? "met (< 5 s, < 200 MB)"
                                    : "MISSED");
  }
  const vn::Timed flush = vn::FlushSpool(lines, folder);
  std::printf("records flush into SQLite: %.1f s, %.1f CPU s, peak %.1f MiB: %s\n", flush.seconds,
              flush.cpu, double(flush.peakKiB) / 1024,
              flush.exitCode != 0          ? "flush failed"
              : flush.peakKiB < 200 * 1024 ? "met (< 200 MB)"
                                           : "MISSED");
  return 0;
}

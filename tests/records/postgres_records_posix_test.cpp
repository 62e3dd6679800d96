// Records on a real PostgreSQL server (tests/records/with_postgres.sh starts one): one row per
// box equal to its record, nothing lost or doubled when the server goes away mid-run, and the
// targets refused before the first box. Skipped when run without the server.
#include <libpq-fe.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <utility>

#include "line_rig.h"
#include "records/record_target.h"
#include "records/report_facts.h"
#include "records/sqlite_store.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

using json = nlohmann::json;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

std::string Url(const std::string& database = "line", const std::string& more = "") {
  return "postgresql:///" + database + "?host=" + Env("VESPANODE_TEST_PG_SOCKET") + "&user=line" +
         more;
}

// The first column of each row; a failed query fails the test.
std::vector<std::string> Column(const std::string& sql, const std::string& database = "line") {
  std::vector<std::string> values;
  PGconn* connection = PQconnectdb(Url(database).c_str());
  PQsetNoticeProcessor(
      connection, [](void*, const char*) {}, nullptr);
  PGresult* result = PQexec(connection, sql.c_str());
  const ExecStatusType status = PQresultStatus(result);
  EXPECT_TRUE(status == PGRES_TUPLES_OK || status == PGRES_COMMAND_OK)
      << sql << ": " << PQerrorMessage(connection);
  for (int i = 0; status == PGRES_TUPLES_OK && i < PQntuples(result); ++i) {
    values.push_back(PQgetvalue(result, i, 0));
  }
  PQclear(result);
  PQfinish(connection);
  return values;
}

// The rows of the boxes table, or -1 while it is not there (or the server is away).
int BoxRows(const std::string& where = "") {
  PGconn* connection = PQconnectdb(Url().c_str());
  PGresult* result = PQexec(connection, ("SELECT count(*) FROM boxes " + where).c_str());
  const int rows =
      PQresultStatus(result) == PGRES_TUPLES_OK ? std::atoi(PQgetvalue(result, 0, 0)) : -1;
  PQclear(result);
  PQfinish(connection);
  return rows;
}

// Whether a record waits in a spool in `state`.
bool Spooled(const ScratchFolder& state) {
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(state.Path(), error)) {
    if (entry.is_regular_file(error) && entry.file_size(error) > 0) return true;
  }
  return false;
}

class PostgresRecords : public ::testing::Test {
 protected:
  void SetUp() override {
    if (Env("VESPANODE_TEST_PG_SOCKET").empty()) {
      GTEST_SKIP() << "no PostgreSQL server: run through tests/records/with_postgres.sh";
    }
    Column("DROP TABLE IF EXISTS boxes, schema_version");
    // The spool of these runs is the test's own.
    ::setenv("XDG_STATE_HOME", state_.Path().c_str(), 1);
  }
  void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

  static void Server(const std::string& what) {
    ASSERT_EQ(std::system((Env("VESPANODE_TEST_PG_CONTROL") + " " + what).c_str()), 0) << what;
  }

  ScratchFolder state_;
};

TEST_F(PostgresRecords, EveryBoxIsOneRowEqualToItsRecord) {
  LineRig rig(2);
  ASSERT_TRUE(rig.Started());
  const ChildResult run = RunCli(rig.Download({0, 1}, 2, Url()));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::vector<json> printed = LineRig::BoxRecords(run);
  ASSERT_EQ(printed.size(), 4u);
  const auto rows = Column("SELECT record::text FROM boxes ORDER BY start_time");
  ASSERT_EQ(rows.size(), 4u);
  std::set<std::string> expected, stored;
  for (const json& record : printed) expected.insert(record.dump());
  for (const std::string& row : rows) stored.insert(json::parse(row).dump());
  EXPECT_EQ(stored, expected);
  EXPECT_EQ(Column("SELECT version FROM schema_version"), std::vector<std::string>{"1"});
  // A typed column beside the record.
  EXPECT_EQ(Column("SELECT count(*) FROM boxes WHERE result = 'success' AND port LIKE '/dev/%' "
                   "AND sha256 = record->>'sha256' AND box BETWEEN 1 AND 2"),
            std::vector<std::string>{"4"});

  // The report from the server, from a JSON-lines file and from an SQLite file of the same
  // records: the same figures; from all three at once, each box once.
  const std::string lines = rig.Folder().File("line.jsonl");
  const std::string database = rig.Folder().File("line.sqlite");
  {
    std::ofstream out(lines);
    for (const json& record : printed) out << record.dump() << "\n";
    SqliteStore store(database);
    ASSERT_FALSE(store.Open().Failed());
    for (const json& record : printed) {
      ASSERT_FALSE(store.Write(nlohmann::ordered_json::parse(record.dump())).Failed());
    }
  }
  const json fromServer = ReportFigures({Url()});
  EXPECT_EQ(fromServer["boxes"], 4);
  EXPECT_EQ(ReportFigures({lines}), fromServer);
  EXPECT_EQ(ReportFigures({database}), fromServer);
  EXPECT_EQ(ReportFigures({Url(), lines, database}), fromServer);

  // The line page's records from either database: all of them, oldest first, within since and
  // limit.
  std::string lastEnd;
  for (const json& record : printed) lastEnd = std::max(lastEnd, record["end"].get<std::string>());
  for (const std::string& source : {Url(), database}) {
    const auto read = [&](const std::string& since, int limit) {
      std::vector<std::string> records;
      const Failure failure =
          ReadDatabaseRecords(ParseRecordTarget(source), since, limit,
                              [&](json record) { records.push_back(record.dump()); });
      EXPECT_FALSE(failure.Failed()) << FailureText(failure);
      return records;
    };
    const std::vector<std::string> all = read("", 100);
    EXPECT_EQ(std::set<std::string>(all.begin(), all.end()), expected) << source;
    EXPECT_EQ(read("", 2), std::vector<std::string>(all.begin(), all.begin() + 2));
    EXPECT_EQ(read(lastEnd, 100).back(), all.back());
    EXPECT_LT(read(lastEnd, 100).size(), all.size());
  }
}

// 4 ports in 2 programs writing to one database; the server stops mid-run and comes back. Every
// box is one row: the records of the outage waited in the spool and went in once.
TEST_F(PostgresRecords, AnOutageMidRunLosesAndDoublesNothing) {
  LineRig rig(4);
  ASSERT_TRUE(rig.Started());
  const int perPort = 8;
  std::vector<ChildResult> runs;
  std::thread line([&] {
    runs = LineRig::RunAtOnce(
        {rig.Download({0, 1}, perPort, Url()), rig.Download({2, 3}, perPort, Url())});
  });
  // Down once each program has written a row (so both have reached the server at their start),
  // and back once a record has met the outage (it waits in the spool), while boxes are still
  // served.
  const auto rowsOf = [&](int first, int second) {
    return BoxRows("WHERE port IN ('" + rig.Pty(first) + "', '" + rig.Pty(second) + "')");
  };
  for (int i = 0; i < 1200 && (rowsOf(0, 1) <= 0 || rowsOf(2, 3) <= 0); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Server("stop");
  for (int i = 0; i < 2400 && !Spooled(state_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  Server("start");
  line.join();
  int spooledSaid = 0;
  std::set<std::string> printed;
  for (const ChildResult& run : runs) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    spooledSaid += run.err.find("records wait in " + state_.Path()) != std::string::npos;
    for (const json& record : LineRig::BoxRecords(run))
      printed.insert(record["port"].dump() + record["box"].dump());
  }
  EXPECT_GT(spooledSaid, 0) << "no record met the outage";
  EXPECT_EQ(printed.size(), size_t(4 * perPort));
  EXPECT_EQ(Column("SELECT count(*) FROM boxes"),
            std::vector<std::string>{std::to_string(4 * perPort)});
  EXPECT_EQ(Column("SELECT count(DISTINCT (port, box)) FROM boxes"),
            std::vector<std::string>{std::to_string(4 * perPort)});
  const ChildResult flush = RunCli({"records", "flush", Url()});
  EXPECT_EQ(flush.exitCode, 0) << flush.err;
  EXPECT_NE(flush.out.find("no records wait"), std::string::npos);
  EXPECT_EQ(flush.err.find("NOTICE"), std::string::npos) << "the server's notices: " << flush.err;
}

// The server freezes mid-run (SIGSTOP on all of it: how a hung server, or a network that drops
// every packet, looks). The boxes go on; a record the server leaves unanswered goes to the spool
// within the client's deadline; a stop still ends the run at once; a report gives up; and once
// the server is back, every box is one row.
TEST_F(PostgresRecords, AFrozenServerHoldsUpNeitherTheBoxesNorAStop) {
  LineRig rig(2);
  ASSERT_TRUE(rig.Started());
  std::atomic<int> boxes{0};
  std::atomic<int> pid{0};
  ChildOptions watch;
  watch.timeout = std::chrono::seconds(90);
  watch.onLine = [&](const std::string& line, int child) {
    pid = child;
    boxes += json::parse(line, nullptr, false).value("type", "") == "box";
  };
  ChildResult run;
  std::thread line([&] { run = RunCli(rig.Download({0, 1}, 0, Url()), watch); });
  const auto waitFor = [](const std::function<bool()>& done) {
    for (int i = 0; i < 2400 && !done(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return done();
  };
  EXPECT_TRUE(waitFor([] { return BoxRows() >= 2; })) << "no record reached the server";
  Server("freeze");
  const int frozenAt = boxes;
  ChildResult report;
  std::thread reading([&] { report = RunCli({"report", Url()}); });
  EXPECT_TRUE(waitFor([this] { return Spooled(state_); })) << "nothing was spooled";
  EXPECT_GE(boxes - frozenAt, 4) << "the boxes waited for the server";
  if (pid > 0) ::kill(pid, SIGINT);
  const auto stopped = std::chrono::steady_clock::now();
  line.join();
  EXPECT_LT(std::chrono::steady_clock::now() - stopped, std::chrono::seconds(5));
  reading.join();
  Server("thaw");
  EXPECT_EQ(run.exitCode, 130) << run.err;
  EXPECT_NE(run.err.find("did not answer within 10 s"), std::string::npos) << run.err;
  EXPECT_EQ(report.exitCode, 2) << report.err;
  EXPECT_NE(report.err.find("did not answer within 10 s"), std::string::npos) << report.err;
  const ChildResult flush = RunCli({"records", "flush", Url()});
  EXPECT_EQ(flush.exitCode, 0) << flush.err;
  std::set<std::string> printed;
  for (const json& record : LineRig::BoxRecords(run)) printed.insert(record["recordId"]);
  const auto stored = Column("SELECT record_id FROM boxes");
  // record_id is unique in the table: none is there twice.
  EXPECT_EQ(std::set<std::string>(stored.begin(), stored.end()), printed);
}

// A server that is not there at the end of the run: the records wait, the exit code says so, and
// `records flush` writes them once it is back.
TEST_F(PostgresRecords, RecordsLeftInTheSpoolFailTheRunUntilFlushed) {
  LineRig rig(1);
  ASSERT_TRUE(rig.Started());
  ASSERT_EQ(RunCli(rig.Download({0}, 1, Url())).exitCode, 0);
  Column("DELETE FROM boxes");
  // The server goes once the run has begun, past the check of its record at the start: at the
  // run's first line.
  ChildOptions stopAtFirstLine;
  bool stopped = false;
  stopAtFirstLine.onLine = [&stopped](const std::string&, int) {
    if (!std::exchange(stopped, true)) Server("stop");
  };
  std::vector<ChildResult> runs = {RunCli(rig.Download({0}, 2, Url()), stopAtFirstLine)};
  ASSERT_TRUE(stopped) << runs[0].err;
  const std::string left = runs[0].err;
  const int rowsBefore = 0;
  Server("start");
  const int rowsSaved = std::stoi(Column("SELECT count(*) FROM boxes")[0]);
  if (runs[0].exitCode == 0) {
    // The server went away only after both records were in.
    EXPECT_EQ(rowsSaved, 2);
    return;
  }
  EXPECT_EQ(runs[0].exitCode, 1) << left;
  EXPECT_NE(left.find("wait in " + state_.Path()), std::string::npos) << left;
  EXPECT_NE(left.find("records flush"), std::string::npos) << left;
  const ChildResult flush = RunCli({"records", "flush", Url()});
  EXPECT_EQ(flush.exitCode, 0) << flush.err;
  EXPECT_NE(flush.out.find(std::to_string(2 - rowsSaved) + " spooled record(s) written"),
            std::string::npos)
      << flush.out;
  EXPECT_EQ(Column("SELECT count(*) FROM boxes"), std::vector<std::string>{"2"});
  EXPECT_GE(rowsSaved, rowsBefore);
}

// Targets that cannot take records are refused before the first box, in libpq's own words, and
// a password in the URL is never shown.
TEST_F(PostgresRecords, UnusableServersAreRefusedBeforeTheFirstBox) {
  Column("DROP TABLE IF EXISTS schema_version", "newer");
  Column("CREATE TABLE schema_version (version integer NOT NULL)", "newer");
  Column("INSERT INTO schema_version VALUES (7)", "newer");
  struct Case {
    std::string url;
    const char* says;
  };
  const Case cases[] = {
      {Url("line", "&password=Wr0ngSecret"), "password authentication failed"},
      {"postgresql://line:Wr0ngSecret@/line?host=" + Env("VESPANODE_TEST_PG_SOCKET"),
       "password authentication failed"},
      {Url("absent"), "database \"absent\" does not exist"},
      {Url("newer"), "tables are of version 7, newer than this program's 1"},
      {"postgresql:///line?host=" + state_.Path(), "No such file or directory"},
  };
  LineRig rig(1);
  ASSERT_TRUE(rig.Started());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    const ChildResult run = RunCli(rig.Download({0}, 1, c.url));
    EXPECT_EQ(run.exitCode, 2) << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Wr0ngSecret"), std::string::npos) << run.err;
    EXPECT_EQ(run.out.find("Wr0ngSecret"), std::string::npos) << run.out;
    EXPECT_EQ(LineRig::BoxRecords(run).size(), 0u) << "a box was served";
  }
  EXPECT_EQ(Column("SELECT version FROM schema_version", "newer"), std::vector<std::string>{"7"});
}

}  // namespace
}  // namespace vn::testing

// Records of real runs (vespanode-cli against virtual boxes) in SQLite files, and the report and
// `records flush` over them.
#include <sqlite3.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "line_rig.h"
#include "records/sqlite_store.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

using json = nlohmann::json;

// Writes every record of a JSON-lines file into a database, as another run would have.
void CopyRecords(const std::string& lines, const std::string& database) {
  SqliteStore store(database);
  ASSERT_FALSE(store.Open().Failed());
  std::ifstream in(lines);
  for (std::string line; std::getline(in, line);) {
    ASSERT_FALSE(store.Write(nlohmann::ordered_json::parse(line)).Failed());
  }
}

std::vector<std::string> SqliteColumn(const std::string& path, const std::string& query) {
  sqlite3* db = nullptr;
  std::vector<std::string> values;
  sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* row = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &row, nullptr) == SQLITE_OK) {
    while (sqlite3_step(row) == SQLITE_ROW) {
      values.push_back(reinterpret_cast<const char*>(sqlite3_column_text(row, 0)));
    }
  }
  sqlite3_finalize(row);
  sqlite3_close(db);
  return values;
}

// Two programs, two ports each, one SQLite file: every box one row, equal to its record.
TEST(LineRecords, TwoProgramsShareOneSqliteFile) {
  LineRig rig(4);
  ASSERT_TRUE(rig.Started());
  const std::string database = rig.Folder().File("line.sqlite");
  const auto runs = LineRig::RunAtOnce(
      {rig.Download({0, 1}, 3, database), rig.Download({2, 3}, 3, "sqlite:" + database)});
  std::map<std::string, json> printed;
  for (const ChildResult& run : runs) {
    EXPECT_EQ(run.exitCode, 0) << run.err;
    for (const json& record : LineRig::BoxRecords(run)) {
      printed[record.dump()] = record;
    }
  }
  ASSERT_EQ(printed.size(), 12u);
  EXPECT_FALSE(std::filesystem::exists(database + "-wal")) << "the last writer closes the WAL";
  const auto rows = SqliteColumn(database, "SELECT record FROM boxes");
  ASSERT_EQ(rows.size(), 12u);
  for (const std::string& row : rows) {
    const json record = json::parse(row);
    EXPECT_TRUE(printed.count(record.dump())) << "no box printed this record: " << row;
  }
}

// The same boxes from a JSON-lines file and from an SQLite file give the same report, and from
// both at once each box counts once.
TEST(LineRecords, TheReportIsTheSameFromEverySourceAndCountsABoxOnce) {
  LineRig rig(2);
  ASSERT_TRUE(rig.Started());
  const std::string lines = rig.Folder().File("line.jsonl");
  const std::string database = rig.Folder().File("line.sqlite");
  const ChildResult run = RunCli(rig.Download({0, 1}, 2, lines));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  CopyRecords(lines, database);
  const json fromLines = ReportFigures({lines});
  EXPECT_EQ(fromLines["boxes"], 4);
  EXPECT_EQ(fromLines["succeeded"], 4);
  EXPECT_EQ(ReportFigures({database}), fromLines);
  EXPECT_EQ(ReportFigures({lines, database}), fromLines);
  // The README's report, as written there.
  ChildOptions inFolder;
  inFolder.workingDirectory = rig.Folder().Path();
  const ChildResult html = RunCli(
      {"report", "line.jsonl", "line.sqlite", "--since", "2026-12-08", "--html", "report.html"},
      inFolder);
  EXPECT_EQ(html.exitCode, 0) << html.err;
  EXPECT_NE(html.out.find("Boxes 4: 4 succeeded"), std::string::npos) << html.out;
  const std::string page = ReadText(rig.Folder().File("report.html"));
  EXPECT_NE(page.find("<svg data-chart=\"hours\""), std::string::npos);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("http://"), std::string::npos);
}

// A record of the audit's shift: download `box` on COM1 at `start`, and what else it says.
json ShiftRecord(int box, const std::string& start, json more = json::object()) {
  char id[40];
  std::snprintf(id, sizeof id, "%08x-0000-4000-8000-000000000000", box);
  json record = {{"schema", 2},
                 {"recordId", id},
                 {"host", "pc-1"},
                 {"start", start},
                 {"end", start},
                 {"port", "COM1"},
                 {"operation", "download"},
                 {"box", box},
                 {"file", "a.dld"},
                 {"sha256", std::string(64, 'a')},
                 {"result", "success"},
                 {"seconds", nullptr}};
  record.update(more);
  return record;
}

// The report recomputed from the raw records of a shift that stopped from 09:00 to 14:00: every
// figure as the records have it, in either order of the sources, and no text of a record taken
// for a terminal's control.
TEST(LineRecords, TheReportsFiguresAreTheRecordsOwn) {
  ScratchFolder folder;
  std::string first, second;
  for (int box = 1; box <= 19; ++box) {  // 06:30 to 08:00, 1 to 19 s
    char start[32];
    std::snprintf(start, sizeof start, "2026-12-08T%02d:%02d:00.000Z", 6 + (25 + box * 5) / 60,
                  (25 + box * 5) % 60);
    first += ShiftRecord(box, start, {{"seconds", box}}).dump() + "\n";
  }
  first +=
      ShiftRecord(20, "2026-12-08T14:29:40.000Z",
                  {{"end", "2026-12-08T14:30:00.000Z"}, {"seconds", 20}, {"file", "/fw/a.dld"}})
          .dump() +
      "\n";
  first += ShiftRecord(21, "2026-12-08T10:30:00.000+02:00").dump() + "\n";  // 08:30 UTC
  first += ShiftRecord(22, "2026-12-08T07:00:00.000Z", {{"result", 7}}).dump() + "\n";
  first += ShiftRecord(23, "2026-12-08T07:00:00.000Z", {{"operation", "verify"}}).dump() + "\n";
  first += ShiftRecord(24, "2026-02-30T07:00:00.000Z").dump() + "\n";
  first += R"({"result":"success"})"
           "\n";
  const json failed = {{"result", "failure"},
                       {"failureKind", "no-answer"},
                       {"failure", "\x1b]0;owned\x07\x1b[2J\u202e"},
                       {"end", "2026-12-08T07:10:01.000Z"}};
  first += ShiftRecord(25, "2026-12-08T07:10:00.000Z", {{"result", "stopped"}}).dump() + "\n";
  second += ShiftRecord(25, "2026-12-08T07:10:00.000Z", failed).dump() + "\n";
  const std::string a = folder.Write("a.jsonl", {first.begin(), first.end()});
  const std::string b = folder.Write("b.jsonl", {second.begin(), second.end()});
  const json report = ReportFigures({a, b});
  EXPECT_EQ(ReportFigures({b, a}), report);
  EXPECT_EQ(report["boxes"], 23);
  EXPECT_EQ(report["failed"], 1) << "the copy that ended last";
  EXPECT_EQ(report["unknown"], 1);
  EXPECT_EQ(report["medianSeconds"], 10.5);
  EXPECT_EQ(report["boxesPerHour"], 2.9) << "23 boxes from 06:30 to 14:30";
  ASSERT_EQ(report["hours"].size(), 9u);
  EXPECT_EQ(report["hours"][2]["boxes"], 2) << "08:00 and 08:30 UTC";
  EXPECT_EQ(report["hours"][4]["boxes"], 0);
  EXPECT_EQ(report["firmware"].size(), 1u);
  EXPECT_EQ(report["operations"].size(), 3u) << "download, unknown and verify";
  const ChildResult text = RunCli({"report", a, b, "--since", "2026-12-08T08:15"});
  EXPECT_NE(text.out.find("Boxes 2: 2 succeeded"), std::string::npos) << text.out;
  EXPECT_NE(text.err.find("1 of them with a time that cannot be read (2026-02-30"),
            std::string::npos)
      << text.err;
  const ChildResult page =
      RunCli({"report", a, b, "--operation", "all", "--html", folder.File("r.html")});
  EXPECT_EQ(page.exitCode, 0) << page.err;
  EXPECT_NE(page.err.find("1 record id(s) came with different contents"), std::string::npos);
  for (const std::string& shown : {page.out, ReadText(folder.File("r.html"))}) {
    EXPECT_EQ(shown.find('\x1b'), std::string::npos);
    EXPECT_EQ(shown.find("\u202e"), std::string::npos);
    EXPECT_NE(shown.find("]0;owned"), std::string::npos);
  }
}

TEST(LineRecords, CommandLinesThatCannotWorkAreRefused) {
  ScratchFolder folder;
  struct Case {
    std::vector<std::string> line;
    int exit;
    const char* says;
  };
  const std::string jsonl = folder.Write("line.jsonl", {});
  const Case cases[] = {
      {{"records", "flush", jsonl}, 2, "only a database's records are spooled"},
      // A mistyped name is said, not made into a database.
      {{"records", "flush", folder.File("absent.sqlite")}, 2, "No such file"},
      {{"report", folder.File("absent.jsonl")}, 2, "No such file"},
      {{"report", folder.File("absent.sqlite")}, 2, "unable to open database file"},
      {{"report", jsonl, "--since", "yesterday"}, 2, "needs a UTC time"},
      {{"report", jsonl, "--since", "2026-13-45"}, 2, "needs a UTC time that exists"},
      {{"report", jsonl, "--until", "2026-02-30"}, 2, "needs a UTC time that exists"},
      {{"report", jsonl, "--since", "2026-12-08T25:61"}, 2, "needs a UTC time that exists"},
      {{"report", jsonl, "--firmware", "AB1"}, 2, "needs at least 4 hex digits"},
      {{"report", folder.Path()}, 2, "is a folder"},
      {{"report", "postgresql://line:Hunter2x@/absent?host=" + folder.Path()},
       2,
       "carries a password"},
  };
  for (const Case& c : cases) {
    const ChildResult run = RunCli(c.line);
    EXPECT_EQ(run.exitCode, c.exit) << c.line.back() << run.err;
    EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Hunter2x"), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(folder.File("absent.sqlite")));
}

}  // namespace
}  // namespace vn::testing

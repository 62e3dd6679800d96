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

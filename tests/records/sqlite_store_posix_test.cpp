// Records in an SQLite file: the tables the built-in statements make, one row per record however
// often it is written, and the files that must be refused before the first box.
#include <sqlite3.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "records/box_columns.h"
#include "records/report_facts.h"
#include "records/sqlite_store.h"
#include "support/sample_files.h"
#include "support/scratch_folder.h"

namespace vn::testing {
namespace {

using json = nlohmann::ordered_json;

json SampleRecord(int box, const std::string& result = "success") {
  return json::parse(
      R"({"schema":2,"recordId":"6f1c0d9e-2b4a-4c1e-9d3f-00000000000)" + std::to_string(box) +
      R"(","host":"line-pc-3","start":"2026-12-08T10:0)" + std::to_string(box) +
      R"(:00.125Z","end":"2026-12-08T10:09:41.000Z","port":"COM3",)"
      R"("operation":"download","box":)" +
      std::to_string(box) + R"(,"file":"app.dld","sha256":")" + std::string(64, 'c') +
      R"(","header":{"identForNocheck":0,"manufactureIdent":"VESPANODE-LAB",)"
      R"("hardwareModule":"VN-HW1","hardwareVersion":"1.00","softwareModule":"VN-SW1",)"
      R"("softwareVersion":"3.1.05","kindCode":4,"partitionCount":1},"result":")" +
      result +
      R"(","failureKind":null,"failure":null,"reason":null,)"
      R"("phase":"program","bytesSent":123456,"bytesReceived":789,"framesResent":0,)"
      R"("naksSent":0,"naksReceived":0,"timeouts":0,"meanAnswerDelayMs":1.5,)"
      R"("seconds":41.25,"efficiency":0.913,"regionsChecked":null,"regionsDiffering":null})");
}

// The rows of a query, each column as text ("NULL" for null).
std::vector<std::vector<std::string>> Rows(const std::string& path, const std::string& query) {
  sqlite3* db = nullptr;
  std::vector<std::vector<std::string>> rows;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return rows;
  sqlite3_stmt* row = nullptr;
  if (sqlite3_prepare_v2(db, query.c_str(), -1, &row, nullptr) == SQLITE_OK) {
    while (sqlite3_step(row) == SQLITE_ROW) {
      std::vector<std::string> values;
      for (int i = 0; i < sqlite3_column_count(row); ++i) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, i));
        values.push_back(text ? text : "NULL");
      }
      rows.push_back(values);
    }
  }
  sqlite3_finalize(row);
  sqlite3_close(db);
  return rows;
}

bool Exec(const std::string& path, const std::string& statements) {
  sqlite3* db = nullptr;
  bool ok = sqlite3_open(path.c_str(), &db) == SQLITE_OK &&
            sqlite3_exec(db, statements.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
  sqlite3_close(db);
  return ok;
}

// The statements in docs/schema/boxes.sql are the ones the program runs, and they make a column
// for every value it writes, and no column it does not write, in both engines.
TEST(BoxesTable, TheBuiltInStatementsAreTheDocumentedOnesAndMatchTheColumns) {
  std::ifstream file(std::string(VESPANODE_SOURCE_DIR) + "/docs/schema/boxes.sql");
  const std::string documented((std::istreambuf_iterator<char>(file)), {});
  for (const char* engine : {"sqlite", "postgresql"}) {
    const std::string ddl = BoxesDdl(engine);
    ASSERT_FALSE(ddl.empty()) << engine;
    EXPECT_NE(documented.find(ddl), std::string::npos) << engine;
    const size_t table = ddl.find("CREATE TABLE IF NOT EXISTS boxes (");
    const std::string body = ddl.substr(table, ddl.find(");", table) - table);
    std::set<std::string> declared;
    for (size_t at = body.find("\n  "); at != std::string::npos; at = body.find("\n  ", at + 1)) {
      declared.insert(body.substr(at + 3, body.find(' ', at + 3) - at - 3));
    }
    declared.erase("id");
    std::set<std::string> written;
    for (const BoxColumn& column : BoxColumns()) written.insert(column.name);
    EXPECT_EQ(declared, written) << engine;
    for (const char* index : {"(start_time)", "(port)", "(sha256)", "(result)"}) {
      EXPECT_NE(ddl.find(std::string("ON boxes ") + index), std::string::npos) << index;
    }
  }
}

TEST(SqliteStore, OneRowPerRecordHoldingTheRecordAndItsFields) {
  ScratchFolder folder;
  const std::string path = folder.File("line.sqlite");
  SqliteStore store(path);
  ASSERT_FALSE(store.Open().Failed());
  const json record = SampleRecord(1);
  EXPECT_FALSE(store.Write(record).Failed());
  EXPECT_FALSE(store.Write(record).Failed()) << "a record written again is no failure";
  EXPECT_FALSE(store.Write(SampleRecord(2, "failure")).Failed());
  const auto rows = Rows(path,
                         "SELECT record_id, host, start_time, port, box, sha256, software_version, "
                         "kind_code, result, failure_kind, seconds, efficiency, record FROM boxes "
                         "ORDER BY box");
  ASSERT_EQ(rows.size(), 2u);
  const std::vector<std::string> expected = {"6f1c0d9e-2b4a-4c1e-9d3f-000000000001",
                                             "line-pc-3",
                                             "2026-12-08T10:01:00.125Z",
                                             "COM3",
                                             "1",
                                             std::string(64, 'c'),
                                             "3.1.05",
                                             "4",
                                             "success",
                                             "NULL",
                                             "41.25",
                                             "0.913"};
  EXPECT_EQ(std::vector<std::string>(rows[0].begin(), rows[0].end() - 1), expected);
  EXPECT_EQ(json::parse(rows[0].back()), record);
  EXPECT_EQ(Rows(path, "PRAGMA journal_mode")[0][0], "wal");
  EXPECT_EQ(Rows(path, "SELECT version FROM schema_version"),
            (std::vector<std::vector<std::string>>{{std::to_string(kBoxesSchemaVersion)}}));
  // A second program opening the same file finds the tables and adds to them.
  SqliteStore second(path);
  ASSERT_FALSE(second.Open().Failed());
  EXPECT_FALSE(second.Write(SampleRecord(3)).Failed());
  EXPECT_EQ(Rows(path, "SELECT count(*) FROM boxes")[0][0], "3");
  EXPECT_EQ(Rows(path, "SELECT count(*) FROM schema_version")[0][0], "1");
}

TEST(SqliteStore, ASchemaOneRecordGetsAnIdOfItsOwnOnce) {
  ScratchFolder folder;
  const std::string path = folder.File("line.db");
  SqliteStore store(path);
  ASSERT_FALSE(store.Open().Failed());
  json old = SampleRecord(1);
  old.erase("recordId");
  old.erase("host");
  old["schema"] = 1;
  EXPECT_FALSE(store.Write(old).Failed());
  EXPECT_FALSE(store.Write(old).Failed());
  const auto rows = Rows(path, "SELECT record_id, host FROM boxes");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], RecordIdOf(old));
  EXPECT_EQ(rows[0][1], "NULL");
}

// What stands at the path before the first box, and what the store says of it.
TEST(SqliteStore, UnusableFilesAreRefusedInSqlitesOwnWords) {
  struct Case {
    const char* name;
    std::function<void(const std::string&)> make;
    FailureKind kind;
    const char* says;
  };
  const Case cases[] = {
      {"corrupt", [](const std::string& p) { WriteBytes(p, std::vector<uint8_t>(4096, 'x')); },
       FailureKind::kDamaged, "file is not a database"},
      {"newer tables",
       [](const std::string& p) {
         Exec(p,
              "CREATE TABLE schema_version (version INTEGER NOT NULL);"
              "INSERT INTO schema_version VALUES (99);");
       },
       FailureKind::kDamaged, "version 99, newer than this program's 1"},
      {"read-only",
       [](const std::string& p) {
         WriteBytes(p, {});
         ::chmod(p.c_str(), 0444);
       },
       FailureKind::kPermissionDenied, "Permission denied"},
      {"folder", [](const std::string& p) { ::mkdir(p.c_str(), 0755); }, FailureKind::kWrongKind,
       "is a folder"},
      {"missing folder", [](const std::string&) {}, FailureKind::kNotFound, "No such file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchFolder folder;
    const std::string path =
        folder.File(std::string(c.name) == "missing folder" ? "no/line.sqlite" : "line.sqlite");
    c.make(path);
    const auto bytes = [&] {
      return std::filesystem::is_regular_file(path) ? ReadBytes(path) : std::vector<uint8_t>();
    };
    const std::vector<uint8_t> before = bytes();
    SqliteStore store(path);
    const Failure failure = store.Open();
    EXPECT_EQ(failure.kind, c.kind) << FailureText(failure);
    EXPECT_NE(FailureText(failure).find(c.says), std::string::npos) << FailureText(failure);
    EXPECT_EQ(bytes(), before) << "changed";
  }
}

TEST(SqliteStore, ALockHeldTooLongFailsTheWriteAndTheNextOneGoesIn) {
  ScratchFolder folder;
  const std::string path = folder.File("line.sqlite");
  SqliteStore store(path);
  ASSERT_FALSE(store.Open().Failed());
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &other), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
  const Failure failure = store.Write(SampleRecord(1));
  EXPECT_EQ(failure.kind, FailureKind::kBusy) << FailureText(failure);
  EXPECT_NE(FailureText(failure).find("database is locked"), std::string::npos);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_FALSE(store.Write(SampleRecord(1)).Failed());
  EXPECT_EQ(Rows(path, "SELECT count(*) FROM boxes")[0][0], "1");
}

TEST(SqliteReport, TheDatabaseFiltersByTimeAndPort) {
  ScratchFolder folder;
  const std::string path = folder.File("line.sqlite");
  {
    SqliteStore store(path);
    ASSERT_FALSE(store.Open().Failed());
    for (int box = 1; box <= 5; ++box) ASSERT_FALSE(store.Write(SampleRecord(box)).Failed());
  }
  ReportFilter filter;
  filter.since = "2026-12-08T10:02:00.000Z";
  filter.until = "2026-12-08T10:04:00.000Z";
  filter.port = "COM3";
  std::vector<std::string> starts;
  SkippedLines skipped;
  const Failure failure = ReadReportSource(
      ParseRecordTarget(path), filter, [&](const BoxFacts& f) { starts.push_back(f.start); },
      skipped);
  EXPECT_FALSE(failure.Failed()) << FailureText(failure);
  EXPECT_EQ(starts,
            (std::vector<std::string>{"2026-12-08T10:02:00.125Z", "2026-12-08T10:03:00.125Z"}));
  filter.port = "COM4";
  starts.clear();
  ReadReportSource(
      ParseRecordTarget(path), filter, [&](const BoxFacts& f) { starts.push_back(f.start); },
      skipped);
  EXPECT_TRUE(starts.empty());
}

}  // namespace
}  // namespace vn::testing

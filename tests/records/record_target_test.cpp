// What --record TARGET and a report's SOURCE name, and what of a URL may be shown.
#include <gtest/gtest.h>

#include "records/record_spool.h"
#include "records/record_target.h"

namespace vn::testing {
namespace {

struct TargetCase {
  const char* text;
  RecordTargetKind kind;
  const char* location;
  const char* shown;
  bool password;
};

const TargetCase kTargets[] = {
    {"line.jsonl", RecordTargetKind::kJsonLines, "line.jsonl", "line.jsonl", false},
    {"records", RecordTargetKind::kJsonLines, "records", "records", false},
    {"line.sqlite", RecordTargetKind::kSqlite, "line.sqlite", "line.sqlite", false},
    {"/var/LINE.DB", RecordTargetKind::kSqlite, "/var/LINE.DB", "/var/LINE.DB", false},
    {"sqlite:records", RecordTargetKind::kSqlite, "records", "records", false},
    {"sqlite:/a/b.jsonl", RecordTargetKind::kSqlite, "/a/b.jsonl", "/a/b.jsonl", false},
    // A file named like a database but ending otherwise stays JSON lines.
    {"line.db.jsonl", RecordTargetKind::kJsonLines, "line.db.jsonl", "line.db.jsonl", false},
    {"postgresql://db.example/line", RecordTargetKind::kPostgres, "postgresql://db.example/line",
     "postgresql://db.example/line", false},
    {"postgres://line@db/line", RecordTargetKind::kPostgres, "postgres://line@db/line",
     "postgres://line@db/line", false},
    {"postgresql://line:s3cret@db:5432/line?sslmode=require", RecordTargetKind::kPostgres,
     "postgresql://line:s3cret@db:5432/line?sslmode=require",
     "postgresql://line:***@db:5432/line?sslmode=require", true},
    // The last '@' ends the user-info: a password may hold one.
    {"postgresql://line:p@ss@db/line", RecordTargetKind::kPostgres,
     "postgresql://line:p%40ss@db/line", "postgresql://line:***@db/line", true},
    {"postgresql:///line?host=/run/pg&password=s3cret&user=line", RecordTargetKind::kPostgres,
     "postgresql:///line?host=/run/pg&password=s3cret&user=line",
     "postgresql:///line?host=/run/pg&password=***&user=line", true},
    // libpq reads only a lower-case scheme, and takes the first '@' for the user-info's end.
    {"POSTGRESQL://db/line", RecordTargetKind::kPostgres, "postgresql://db/line",
     "POSTGRESQL://db/line", false},
    {"Postgres://line:a@b@db/line", RecordTargetKind::kPostgres, "postgres://line:a%40b@db/line",
     "Postgres://line:***@db/line", true},
    // An '@' in the path is no user-info.
    {"postgresql://db/line?options=a@b", RecordTargetKind::kPostgres,
     "postgresql://db/line?options=a@b", "postgresql://db/line?options=a@b", false},
};

TEST(RecordTarget, EachFormIsParsedOnce) {
  for (const TargetCase& c : kTargets) {
    SCOPED_TRACE(c.text);
    const RecordTarget target = ParseRecordTarget(c.text);
    EXPECT_EQ(target.kind, c.kind);
    EXPECT_EQ(target.location, c.location);
    EXPECT_EQ(target.shown, c.shown);
    EXPECT_EQ(target.carriesPassword, c.password);
    if (c.password) {
      EXPECT_EQ(target.shown.find("s3cret"), std::string::npos);
    }
  }
  // `records flush` finds the records of a URL however its scheme was written.
  EXPECT_EQ(RecordSpool(ParseRecordTarget("POSTGRESQL://db/line")).Path(),
            RecordSpool(ParseRecordTarget("postgresql://db/line")).Path());
}

}  // namespace
}  // namespace vn::testing

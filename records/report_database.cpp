// The reading of a database: for the report, only the columns it counts, filtered by time and
// port in the query (the indexes serve both), row by row; or, for a database read alone, grouped
// by the database itself. For the line page, a few whole records.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <functional>
#include <vector>

#include "platform/file_kind.h"
#include "platform/file_system.h"
#include "records/postgres_calls.h"
#include "records/report_facts.h"
#include "records/report_tally.h"
#include "records/sql_failure.h"
#include "records/sqlite_store.h"

namespace vn {
namespace {

// One result row, whichever engine gave it.
class Row {
 public:
  virtual ~Row() = default;
  virtual std::string Text(int column) const = 0;  // empty for null
  virtual double Number(int column) const = 0;     // kNoFigure for null
};
using RowSink = std::function<void(const Row&)>;

struct Query {
  std::string sql;
  std::vector<std::string> values;
};

class SqliteRow : public Row {
 public:
  explicit SqliteRow(sqlite3_stmt* row) : row_(row) {}
  std::string Text(int column) const override {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row_, column));
    return text ? std::string(text, size_t(sqlite3_column_bytes(row_, column))) : std::string();
  }
  double Number(int column) const override {
    return sqlite3_column_type(row_, column) == SQLITE_NULL ? kNoFigure
                                                            : sqlite3_column_double(row_, column);
  }

 private:
  sqlite3_stmt* row_;
};

class PostgresRow : public Row {
 public:
  PostgresRow(const PGresult* result, int row) : result_(result), row_(row) {}
  std::string Text(int column) const override {
    return PQgetisnull(result_, row_, column) ? std::string() : PQgetvalue(result_, row_, column);
  }
  double Number(int column) const override {
    return PQgetisnull(result_, row_, column) ? kNoFigure
                                              : std::atof(PQgetvalue(result_, row_, column));
  }

 private:
  const PGresult* result_;
  int row_;
};

// The engine's spelling of the pieces a query needs.
struct Dialect {
  std::function<std::string(int)> place;  // the n-th parameter, as a time
  std::string start;                      // start_time as the record writes it
  std::string end;
  std::string hour;   // start_time's hour, "2026-12-08T10"
  std::string first;  // min(start_time), as the record writes it
  std::string lastStart;
  std::string lastEnd;
  // The times are the records' own texts, which may carry an offset from UTC ("+02:00"): they
  // compare as instants only once read, so the query takes a day more on either side.
  bool textTimes = false;
};

std::string PostgresTime(const std::string& column) {
  return "to_char(" + column + " AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
}

const Dialect kSqlite{[](int) { return std::string("?"); },
                      "start_time",
                      "end_time",
                      "substr(start_time, 1, 13)",
                      "min(start_time)",
                      "max(start_time)",
                      "max(end_time)",
                      true};
const Dialect kPostgres{[](int n) { return "$" + std::to_string(n) + "::timestamptz"; },
                        PostgresTime("start_time"),
                        PostgresTime("end_time"),
                        "to_char(start_time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24')",
                        PostgresTime("min(start_time)"),
                        PostgresTime("max(start_time)"),
                        PostgresTime("max(end_time)")};

// A filter's time moved by `days`, for a query over the records' own texts.
std::string DaysLater(const std::string& time, int days) {
  constexpr int64_t kMillisPerDay = 86400000;
  return RecordTimeText(ParseTime(time).value_or(0) + days * kMillisPerDay);
}

std::string Where(const ReportFilter& filter, const Dialect& dialect, Query& query) {
  std::string where;
  const auto add = [&](const std::string& condition, const std::string& value, bool time) {
    query.values.push_back(value);
    const int n = int(query.values.size());
    where += (where.empty() ? " WHERE " : " AND ") + condition +
             (time ? dialect.place(n) : dialect.place(n).substr(0, dialect.place(n).find(':')));
  };
  const int margin = dialect.textTimes ? 1 : 0;
  if (!filter.since.empty()) add("start_time >= ", DaysLater(filter.since, -margin), true);
  if (!filter.until.empty()) add("start_time < ", DaysLater(filter.until, margin), true);
  if (!filter.port.empty()) add("port = ", filter.port, false);
  return where;
}

Failure QuerySqlite(const RecordTarget& source, const Query& query, const RowSink& sink) {
  if (const Failure failure = SqlitePathFailure(source.location);
      failure.Failed() && failure.kind != FailureKind::kPermissionDenied) {
    return failure;
  }
  // A writable database is opened for writing (never made): only a writer takes its -wal and
  // -shm files away again when it closes. A mistyped name is said, not made.
  const bool writable = CannotWriteReason(FollowLinks(source.location)) == 0;
  sqlite3* db = nullptr;
  int code = sqlite3_open_v2(SqliteFileName(source.location).c_str(), &db,
                             writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
  sqlite3_stmt* rows = nullptr;
  if (code == SQLITE_OK) {
    sqlite3_busy_timeout(db, int(kSqliteBusyWait.count()));
    code = sqlite3_prepare_v2(db, query.sql.c_str(), -1, &rows, nullptr);
  }
  for (size_t i = 0; code == SQLITE_OK && i < query.values.size(); ++i) {
    sqlite3_bind_text(rows, int(i) + 1, query.values[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  const SqliteRow row(rows);
  while (code == SQLITE_OK || code == SQLITE_ROW) {
    code = sqlite3_step(rows);
    if (code == SQLITE_ROW) sink(row);
  }
  Failure failure;
  if (code != SQLITE_DONE) {
    failure = SqliteFailure(code, db ? sqlite3_errmsg(db) : sqlite3_errstr(code), source.shown);
  }
  sqlite3_finalize(rows);
  sqlite3_close_v2(db);
  return failure;
}

Failure QueryPostgres(const RecordTarget& source, const Query& query, const RowSink& sink) {
  PostgresConnection connection(source, {.answer = kServerReadingWait});
  if (Failure failure = connection.Open(); failure.Failed()) return failure;
  std::vector<const char*> params;
  for (const std::string& value : query.values) params.push_back(value.c_str());
  // Row by row: a million rows are never held at once.
  return connection.Run(
      query.sql, params, [&](const PGresult* result, int row) { sink(PostgresRow(result, row)); },
      true);
}

Failure RunQuery(const RecordTarget& source, const Query& query, const RowSink& sink) {
  return source.kind == RecordTargetKind::kSqlite ? QuerySqlite(source, query, sink)
                                                  : QueryPostgres(source, query, sink);
}

const Dialect& DialectOf(const RecordTarget& source) {
  return source.kind == RecordTargetKind::kSqlite ? kSqlite : kPostgres;
}

}  // namespace

Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter& filter,
                          const FactsSink& sink, SkippedLines& skipped) {
  const Dialect& dialect = DialectOf(source);
  Query query;
  query.sql = "SELECT record_id, " + dialect.start + ", " + dialect.end +
              ", host, port, file, sha256, operation, result, failure_kind, failure, seconds, "
              "efficiency FROM boxes";
  query.sql += Where(filter, dialect, query);
  BoxFacts facts;
  return RunQuery(source, query, [&](const Row& row) {
    int column = 0;
    for (std::string* text :
         {&facts.id, &facts.start, &facts.end, &facts.host, &facts.port, &facts.file, &facts.sha256,
          &facts.operation, &facts.result, &facts.failureKind, &facts.failure}) {
      *text = row.Text(column++);
    }
    facts.seconds = row.Number(column++);
    facts.efficiency = row.Number(column);
    if (!ReadTimes(facts)) {
      skipped.AddBadTime(facts);
    } else if (filter.Passes(facts)) {
      sink(facts);
    }
  });
}

Failure ReadDatabaseRecords(const RecordTarget& source, const std::string& since, int limit,
                            const std::function<void(nlohmann::json)>& sink) {
  const Dialect& dialect = DialectOf(source);
  Query query;
  query.sql = "SELECT record FROM boxes";
  if (!since.empty()) {
    query.values.push_back(since);
    query.sql += " WHERE end_time >= " + dialect.place(1);
  }
  query.sql += " ORDER BY end_time, id LIMIT " + std::to_string(limit);
  Failure unreadable;
  const Failure failure = RunQuery(source, query, [&](const Row& row) {
    nlohmann::json record = nlohmann::json::parse(row.Text(0), nullptr, false);
    if (record.is_object()) {
      sink(std::move(record));
    } else if (!unreadable.Failed()) {
      unreadable =
          FailureSaying(FailureKind::kWrongKind, "a row's record is no JSON object", source.shown);
    }
  });
  return failure.Failed() ? failure : unreadable;
}

Failure TallyDatabase(const RecordTarget& source, const ReportFilter& filter, ReportTally& tally,
                      SkippedLines& skipped) {
  // SQLite's GROUP BY sorts every row in a temporary tree: streaming the few columns into the
  // tally's hash groups takes half its time (bench_report). A server groups on its side, so that
  // only the groups cross the network.
  if (source.kind == RecordTargetKind::kSqlite) {
    return ReadDatabaseFacts(
        source, filter, [&](const BoxFacts& facts) { tally.Add(facts); }, skipped);
  }
  const Dialect& dialect = DialectOf(source);
  Query groups;
  const std::string where = Where(filter, dialect, groups);
  groups.sql = "SELECT host, port, file, sha256, operation, " + dialect.hour +
               ", result, failure_kind, failure, count(*), " + dialect.first + ", " +
               dialect.lastStart + ", " + dialect.lastEnd + " FROM boxes" + where +
               " GROUP BY 1, 2, 3, 4, 5, 6, 7, 8, 9";
  BoxGroup group;
  Failure failure = RunQuery(source, groups, [&](const Row& row) {
    group = {row.Text(0), row.Text(1), row.Text(2), row.Text(3), row.Text(4),
             row.Text(5), row.Text(6), row.Text(7), row.Text(8)};
    tally.AddGroup(group, int64_t(row.Number(9)), row.Text(10), row.Text(11), row.Text(12));
  });
  if (failure.Failed()) return failure;
  Query times = groups;
  times.sql = "SELECT operation, seconds, efficiency FROM boxes" + where;
  return RunQuery(source, times, [&](const Row& row) {
    tally.AddFigures(row.Text(0), row.Number(1), row.Number(2));
  });
}

}  // namespace vn

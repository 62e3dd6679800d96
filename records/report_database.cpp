// The report's reading of a database: only the columns it counts, filtered by time and port in the
// query (the indexes serve both), row by row.
#include <libpq-fe.h>
#include <sqlite3.h>

#include <memory>
#include <vector>

#include "platform/file_kind.h"
#include "platform/file_system.h"
#include "records/postgres_store.h"
#include "records/report_facts.h"
#include "records/sql_failure.h"
#include "records/sqlite_store.h"

namespace vn {
namespace {

// Columns in BoxFacts' order from `id` to `efficiency`, after the time.
constexpr const char* kFactColumns =
    "host, port, file, sha256, result, failure_kind, failure, seconds, efficiency";

// The WHERE clause and its values; `place(n)` writes the n-th parameter's placeholder.
template <typename Place>
std::string Where(const ReportFilter& filter, const std::string& time, Place place,
                  std::vector<std::string>& values) {
  std::string where;
  const auto add = [&](const std::string& condition, const std::string& value) {
    values.push_back(value);
    where += (where.empty() ? " WHERE " : " AND ") + condition + place(int(values.size()));
  };
  if (!filter.since.empty()) add(time + " >= ", filter.since);
  if (!filter.until.empty()) add(time + " < ", filter.until);
  if (!filter.port.empty()) add("port = ", filter.port);
  return where;
}

std::string SqliteText(sqlite3_stmt* row, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(row, column));
  return text ? std::string(text, size_t(sqlite3_column_bytes(row, column))) : std::string();
}

double SqliteNumber(sqlite3_stmt* row, int column) {
  return sqlite3_column_type(row, column) == SQLITE_NULL ? -1 : sqlite3_column_double(row, column);
}

Failure ReadSqlite(const RecordTarget& source, const ReportFilter& filter, const FactsSink& sink) {
  sqlite3* db = nullptr;
  // Read only, and never made: a report of a mistyped name says so instead of making a database.
  // A writable database is opened for writing (never made): only a writer takes its -wal and
  // -shm files away again when it closes.
  const bool writable = CannotWriteReason(FollowLinks(source.location)) == 0;
  int code = sqlite3_open_v2(source.location.c_str(), &db,
                             writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
  const auto refused = [&](int failed) {
    const Failure failure =
        SqliteFailure(failed, db ? sqlite3_errmsg(db) : sqlite3_errstr(failed), source.shown);
    sqlite3_close_v2(db);
    return failure;
  };
  if (code != SQLITE_OK) return refused(code);
  sqlite3_busy_timeout(db, int(kSqliteBusyWait.count()));
  std::vector<std::string> values;
  const std::string query =
      std::string("SELECT record_id, start_time, ") + kFactColumns + " FROM boxes" +
      Where(filter, "start_time", [](int) { return std::string("?"); }, values);
  sqlite3_stmt* row = nullptr;
  code = sqlite3_prepare_v2(db, query.c_str(), -1, &row, nullptr);
  if (code != SQLITE_OK) return refused(code);
  for (size_t i = 0; i < values.size(); ++i) {
    sqlite3_bind_text(row, int(i) + 1, values[i].c_str(), -1, SQLITE_TRANSIENT);
  }
  BoxFacts facts;
  while ((code = sqlite3_step(row)) == SQLITE_ROW) {
    facts.id = SqliteText(row, 0);
    facts.start = SqliteText(row, 1);
    facts.host = SqliteText(row, 2);
    facts.port = SqliteText(row, 3);
    facts.file = SqliteText(row, 4);
    facts.sha256 = SqliteText(row, 5);
    facts.result = SqliteText(row, 6);
    facts.failureKind = SqliteText(row, 7);
    facts.failure = SqliteText(row, 8);
    facts.seconds = SqliteNumber(row, 9);
    facts.efficiency = SqliteNumber(row, 10);
    if (filter.Passes(facts)) sink(facts);
  }
  sqlite3_finalize(row);
  if (code != SQLITE_DONE) return refused(code);
  sqlite3_close_v2(db);
  return {};
}

std::string PgText(const PGresult* result, int column) {
  return PQgetisnull(result, 0, column) ? std::string() : PQgetvalue(result, 0, column);
}

double PgNumber(const PGresult* result, int column) {
  return PQgetisnull(result, 0, column) ? -1 : std::atof(PQgetvalue(result, 0, column));
}

Failure ReadPostgres(const RecordTarget& source, const ReportFilter& filter,
                     const FactsSink& sink) {
  PGconn* connection = nullptr;
  if (Failure failure = ConnectPostgres(source, connection); failure.Failed()) return failure;
  std::vector<std::string> values;
  const std::string time =
      "to_char(start_time AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"')";
  const std::string query =
      "SELECT record_id, " + time + ", " + kFactColumns + " FROM boxes" +
      Where(filter, "start_time", [](int n) { return "$" + std::to_string(n) + "::timestamptz"; },
            values);
  // The port's placeholder is no time: it is cast as text.
  std::string text = query;
  if (!filter.port.empty()) {
    const std::string last = "$" + std::to_string(values.size()) + "::timestamptz";
    text.replace(text.rfind(last), last.size(), "$" + std::to_string(values.size()));
  }
  std::vector<const char*> params;
  for (const std::string& value : values) params.push_back(value.c_str());
  Failure failure;
  if (!PQsendQueryParams(connection, text.c_str(), int(params.size()), nullptr, params.data(),
                         nullptr, nullptr, 0) ||
      !PQsetSingleRowMode(connection)) {
    failure = PostgresFailure(PQerrorMessage(connection), "", source.shown);
  }
  BoxFacts facts;
  while (PGresult* result = failure.Failed() ? nullptr : PQgetResult(connection)) {
    const ExecStatusType status = PQresultStatus(result);
    if (status == PGRES_SINGLE_TUPLE) {
      facts.id = PgText(result, 0);
      facts.start = PgText(result, 1);
      facts.host = PgText(result, 2);
      facts.port = PgText(result, 3);
      facts.file = PgText(result, 4);
      facts.sha256 = PgText(result, 5);
      facts.result = PgText(result, 6);
      facts.failureKind = PgText(result, 7);
      facts.failure = PgText(result, 8);
      facts.seconds = PgNumber(result, 9);
      facts.efficiency = PgNumber(result, 10);
      if (filter.Passes(facts)) sink(facts);
    } else if (status != PGRES_TUPLES_OK) {
      const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
      failure = PostgresFailure(PQresultErrorMessage(result), state ? state : "", source.shown);
    }
    PQclear(result);
  }
  PQfinish(connection);
  return failure;
}

}  // namespace

Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter& filter,
                          const FactsSink& sink) {
  if (source.kind == RecordTargetKind::kSqlite) {
    if (const Failure failure = SqlitePathFailure(source.location); failure.Failed() &&
                                                                      failure.kind != FailureKind::kPermissionDenied) {
      return failure;
    }
    return ReadSqlite(source, filter, sink);
  }
  return ReadPostgres(source, filter, sink);
}

}  // namespace vn

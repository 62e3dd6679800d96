#include "records/postgres_store.h"

#include <libpq-fe.h>

#include <memory>

#include "records/box_columns.h"
#include "records/sql_failure.h"

namespace vn {
namespace {

// One lock number for every program that makes the tables: two PCs starting at once would
// otherwise both try to create them, and one would fail on the catalog's unique keys.
constexpr const char* kTablesLock = "SELECT pg_advisory_xact_lock(7306421951)";

std::string InsertStatement() {
  std::string names;
  std::string places;
  int n = 0;
  for (const BoxColumn& column : BoxColumns()) {
    names += std::string(names.empty() ? "" : ", ") + column.name;
    places += (places.empty() ? "$" : ", $") + std::to_string(++n);
  }
  return "INSERT INTO boxes (" + names + ") VALUES (" + places +
         ") ON CONFLICT (record_id) DO NOTHING";
}

struct ResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

Failure ResultFailure(PGconn* connection, const PGresult* result, const RecordTarget& target) {
  const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
  const char* words = result ? PQresultErrorMessage(result) : "";
  if (!words || !*words) words = PQerrorMessage(connection);
  return PostgresFailure(words, state ? state : "", target);
}

}  // namespace

Failure ConnectPostgres(const RecordTarget& target, PGconn*& connection) {
  // The URL's own settings come last, so that they override ours.
  const char* keys[] = {"connect_timeout", "application_name", "dbname", nullptr};
  const char* values[] = {"10", "vespanode-cli", target.location.c_str(), nullptr};
  connection = PQconnectdbParams(keys, values, 1);
  if (connection && PQstatus(connection) == CONNECTION_OK) {
    // The server's notices ("relation boxes already exists, skipping") are for a person at psql.
    PQsetNoticeProcessor(
        connection, [](void*, const char*) {}, nullptr);
    return {};
  }
  const std::string words = connection ? PQerrorMessage(connection) : "out of memory";
  PQfinish(connection);
  connection = nullptr;
  // A refused login has SQLSTATE 28P01, but libpq keeps it from a failed connection's message.
  const bool login = words.find("authentication failed") != std::string::npos ||
                     words.find("password") != std::string::npos;
  return PostgresFailure(words, login ? "28P01" : "", target);
}

PostgresStore::PostgresStore(RecordTarget target) : target_(std::move(target)) {}

PostgresStore::~PostgresStore() {
  Close();
}

void PostgresStore::Close() {
  PQfinish(connection_);
  connection_ = nullptr;
}

Failure PostgresStore::Run(const std::string& statement) {
  const Result result(PQexec(connection_, statement.c_str()));
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return {};
  return ResultFailure(connection_, result.get(), target_);
}

Failure PostgresStore::Connect() {
  Close();
  if (Failure failure = ConnectPostgres(target_, connection_); failure.Failed()) return failure;
  // A write that hangs (a server that stopped answering) ends, and its record is spooled.
  return Run("SET statement_timeout = '30s'");
}

Failure PostgresStore::Open() {
  if (Failure failure = Connect(); failure.Failed()) return failure;
  if (Failure failure = MakeTables(); failure.Failed()) {
    Close();
    return failure;
  }
  return {};
}

Failure PostgresStore::MakeTables() {
  Failure failure = Run("BEGIN");
  if (!failure.Failed()) failure = Run(kTablesLock);
  if (!failure.Failed()) failure = Run(BoxesDdl("postgresql"));
  int version = 0;
  bool known = false;
  if (!failure.Failed()) {
    const Result result(PQexec(connection_, "SELECT max(version) FROM schema_version"));
    if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK) {
      known = PQntuples(result.get()) == 1 && !PQgetisnull(result.get(), 0, 0);
      if (known) version = std::atoi(PQgetvalue(result.get(), 0, 0));
    } else {
      failure = ResultFailure(connection_, result.get(), target_);
    }
  }
  if (!failure.Failed() && known && version > kBoxesSchemaVersion) {
    failure = NewerTablesFailure(version, target_.shown);
  }
  if (!failure.Failed() && !known) {
    failure = Run("INSERT INTO schema_version (version) VALUES (" +
                  std::to_string(kBoxesSchemaVersion) + ")");
  }
  if (!failure.Failed()) failure = Run("COMMIT");
  if (failure.Failed()) Run("ROLLBACK");
  return failure;
}

Failure PostgresStore::Write(const nlohmann::ordered_json& record) {
  // A server that went away is reached anew; the tables are there since Open.
  if (!connection_ || PQstatus(connection_) != CONNECTION_OK) {
    if (Failure failure = Connect(); failure.Failed()) return failure;
  }
  static const std::string insert = InsertStatement();
  const std::vector<ColumnValue> values = BoxColumnValues(record);
  std::vector<const char*> params;
  params.reserve(values.size());
  for (const ColumnValue& value : values)
    params.push_back(value.null ? nullptr : value.text.c_str());
  const Result result(PQexecParams(connection_, insert.c_str(), int(params.size()), nullptr,
                                   params.data(), nullptr, nullptr, 0));
  if (result && PQresultStatus(result.get()) == PGRES_COMMAND_OK) return {};
  const Failure failure = ResultFailure(connection_, result.get(), target_);
  // A broken connection is dropped, so that the next write reaches the server anew.
  if (PQstatus(connection_) != CONNECTION_OK) Close();
  return failure;
}

}  // namespace vn

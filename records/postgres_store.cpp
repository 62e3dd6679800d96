#include "records/postgres_store.h"

#include <libpq-fe.h>

#include <algorithm>

#include "records/box_columns.h"

namespace vn {
namespace {

// One lock number for every program that makes the tables: two PCs starting at once would
// otherwise both try to create them, and one would fail on the catalog's unique keys.
constexpr const char* kTablesLock = "SELECT pg_advisory_xact_lock(7306421951)";

// Rows of one INSERT: one round trip for them all, within the protocol's 65535 parameters.
constexpr size_t kRowsAtOnce = 1000;

std::string InsertStatement(size_t rows) {
  std::string names;
  for (const BoxColumn& column : BoxColumns()) {
    names += std::string(names.empty() ? "" : ", ") + column.name;
  }
  std::string values;
  int n = 0;
  for (size_t row = 0; row < rows; ++row) {
    values += row == 0 ? "(" : ", (";
    for (size_t column = 0; column < BoxColumns().size(); ++column) {
      values += (column == 0 ? "$" : ", $") + std::to_string(++n);
    }
    values += ")";
  }
  return "INSERT INTO boxes (" + names + ") VALUES " + values +
         " ON CONFLICT (record_id) DO NOTHING";
}

}  // namespace

PostgresStore::PostgresStore(RecordTarget target, ServerWait wait)
    : target_(target), connection_(std::move(target), wait) {}

Failure PostgresStore::Connect() {
  if (Failure failure = connection_.Open(); failure.Failed()) return failure;
  // A statement the client gave up on, whose cancel never went out, still ends on the server.
  return connection_.Run("SET statement_timeout = '30s'");
}

Failure PostgresStore::Open() {
  if (Failure failure = Connect(); failure.Failed()) return failure;
  if (Failure failure = MakeTables(); failure.Failed()) {
    connection_.Close();
    return failure;
  }
  return {};
}

Failure PostgresStore::MakeTables() {
  Failure failure = connection_.Run("BEGIN");
  if (!failure.Failed()) failure = connection_.Run(kTablesLock);
  if (!failure.Failed()) failure = connection_.Run(BoxesDdl("postgresql"));
  int version = 0;
  bool known = false;
  if (!failure.Failed()) {
    failure = connection_.Run("SELECT max(version) FROM schema_version", {},
                              [&](const PGresult* result, int row) {
                                known = !PQgetisnull(result, row, 0);
                                if (known) version = std::atoi(PQgetvalue(result, row, 0));
                              });
  }
  if (!failure.Failed() && known && version > kBoxesSchemaVersion) {
    failure = NewerTablesFailure(version, target_.shown);
  }
  if (!failure.Failed() && !known) {
    failure = connection_.Run("INSERT INTO schema_version (version) VALUES (" +
                              std::to_string(kBoxesSchemaVersion) + ")");
  }
  if (!failure.Failed()) failure = connection_.Run("COMMIT");
  if (failure.Failed() && connection_.IsOpen()) connection_.Run("ROLLBACK");
  return failure;
}

Failure PostgresStore::Write(const nlohmann::ordered_json& record) {
  return WriteAll({record});
}

Failure PostgresStore::WriteAll(const std::vector<nlohmann::ordered_json>& records) {
  // A server that went away is reached anew; the tables are there since Open.
  if (!connection_.IsOpen()) {
    if (Failure failure = Connect(); failure.Failed()) return failure;
  }
  if (records.size() <= kRowsAtOnce) return Insert(records, 0, records.size());
  Failure failure = connection_.Run("BEGIN");
  for (size_t at = 0; at < records.size() && !failure.Failed(); at += kRowsAtOnce) {
    failure = Insert(records, at, std::min(records.size(), at + kRowsAtOnce));
  }
  if (!failure.Failed()) failure = connection_.Run("COMMIT");
  if (failure.Failed() && connection_.IsOpen()) connection_.Run("ROLLBACK");
  return failure;
}

Failure PostgresStore::Insert(const std::vector<nlohmann::ordered_json>& records, size_t from,
                              size_t to) {
  std::vector<std::vector<ColumnValue>> values;
  values.reserve(to - from);
  std::vector<const char*> params;
  params.reserve((to - from) * BoxColumns().size());
  for (size_t i = from; i < to; ++i) {
    values.push_back(BoxColumnValues(records[i]));
    for (const ColumnValue& value : values.back()) {
      params.push_back(value.null ? nullptr : value.text.c_str());
    }
  }
  return connection_.Run(InsertStatement(to - from), params);
}

}  // namespace vn

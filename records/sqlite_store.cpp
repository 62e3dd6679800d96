#include "records/sqlite_store.h"

#include <sqlite3.h>

#include <thread>

#include "platform/file_kind.h"
#include "platform/file_system.h"
#include "records/box_columns.h"
#include "records/sql_failure.h"

namespace vn {
namespace {

std::string InsertStatement() {
  std::string names;
  std::string places;
  for (const BoxColumn& column : BoxColumns()) {
    names += std::string(names.empty() ? "" : ", ") + column.name;
    places += places.empty() ? "?" : ", ?";
  }
  return "INSERT INTO boxes (" + names + ") VALUES (" + places +
         ") ON CONFLICT (record_id) DO NOTHING";
}

// SQLite reads some names its own way: "" is a temporary database and ":memory:" one in memory,
// both gone with the connection, and a "file:" name is a URI whose parameters can make it either,
// or read-only, past the checks of the path. Records written there would never be anywhere.
Failure SqliteNameFailure(const std::string& path) {
  if (path.empty()) {
    return FailureSaying(FailureKind::kNotFound,
                         "the SQLite target names no file: give its path (sqlite:PATH)");
  }
  if (path == ":memory:") {
    return FailureSaying(FailureKind::kWrongKind,
                         "is SQLite's database in memory, gone when the run ends: give a file's "
                         "path (./:memory: for a file so named)",
                         path);
  }
  if (path.starts_with("file:")) {
    return FailureSaying(
        FailureKind::kWrongKind,
        "is an SQLite URI: give the database file's path (./" + path + " for a file so named)",
        path);
  }
  return {};
}

}  // namespace

std::string SqliteFileName(const std::string& path) {
  const std::string file = FollowLinks(path);
  // Only a name of its own is read as a URI or as the database in memory: "./" keeps a link's
  // target from being one.
  return file.starts_with("/") ? file : "./" + file;
}

Failure SqlitePathFailure(const std::string& path) {
  if (Failure failure = SqliteNameFailure(path); failure.Failed()) return failure;
  if (const std::string kind = NonFileProblem(path); !kind.empty()) {
    return FailureSaying(FailureKind::kWrongKind, kind, path);
  }
  if (const int reason = CannotWriteReason(FollowLinks(path)); reason != 0) {
    return FailureOfErrno(reason, "cannot write the database", path);
  }
  return {};
}

SqliteStore::SqliteStore(std::string path, MissingDatabase missing, const std::atomic<bool>* stop)
    : path_(std::move(path)), missing_(missing), stop_(stop) {}

// SQLite's own wait for a lock (sqlite3_busy_timeout), but one a stop request ends.
int SqliteStore::WaitForLock(void* store, int tries) {
  constexpr std::chrono::milliseconds kStep{10};
  const auto* self = static_cast<const SqliteStore*>(store);
  if ((self->stop_ && self->stop_->load()) || tries * kStep >= kSqliteBusyWait) return 0;
  std::this_thread::sleep_for(kStep);
  return 1;
}

SqliteStore::~SqliteStore() {
  Close();
}

void SqliteStore::Close() {
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  sqlite3_close_v2(db_);
  db_ = nullptr;
}

Failure SqliteStore::Refused(int code) const {
  return SqliteFailure(code, db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code), path_);
}

Failure SqliteStore::Open() {
  Close();
  if (Failure failure = SqlitePathFailure(path_); failure.Failed()) return failure;
  // The file a link leads to: SQLite puts its -wal and -shm files beside the database itself.
  const int make = missing_ == MissingDatabase::kMake ? SQLITE_OPEN_CREATE : 0;
  int code =
      sqlite3_open_v2(SqliteFileName(path_).c_str(), &db_, SQLITE_OPEN_READWRITE | make, nullptr);
  if (code != SQLITE_OK) {
    // "unable to open database file" says less than the system did (a name too long, say).
    const int systemCode = db_ ? sqlite3_system_errno(db_) : 0;
    const Failure failure = code == SQLITE_CANTOPEN && systemCode != 0
                                ? FailureOfErrno(systemCode, "cannot open the database", path_)
                                : Refused(code);
    Close();
    return failure;
  }
  sqlite3_extended_result_codes(db_, 0);
  sqlite3_busy_handler(db_, WaitForLock, this);
  // A database of a newer layout, or a file that is none, is refused before anything in it
  // changes (WAL mode alone rewrites the file's header).
  if (Failure failure = CheckVersion(false); failure.Failed()) {
    Close();
    return failure;
  }
  // WAL lets the report read while the line writes; a database on a file system that cannot hold
  // it keeps its journal mode, which is slower but as safe.
  code = sqlite3_exec(db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK)
    code = sqlite3_exec(db_, "PRAGMA synchronous=NORMAL", nullptr, nullptr, nullptr);
  if (code != SQLITE_OK) {
    const Failure failure = Refused(code);
    Close();
    return failure;
  }
  if (Failure failure = MakeTables(); failure.Failed()) {
    Close();
    return failure;
  }
  code = sqlite3_prepare_v2(db_, InsertStatement().c_str(), -1, &insert_, nullptr);
  if (code != SQLITE_OK) {
    const Failure failure = Refused(code);
    Close();
    return failure;
  }
  return {};
}

// The layout's version: a newer one is refused; a database without the table (a new one) passes
// unless `required`.
Failure SqliteStore::CheckVersion(bool inTransaction) {
  sqlite3_stmt* query = nullptr;
  int code =
      sqlite3_prepare_v2(db_, "SELECT max(version) FROM schema_version", -1, &query, nullptr);
  if (code != SQLITE_OK) {
    // Only a missing table is no failure yet: the transaction below makes it.
    const std::string words = sqlite3_errmsg(db_);
    sqlite3_finalize(query);
    if (!inTransaction && code == SQLITE_ERROR && words.starts_with("no such table")) return {};
    return Refused(code);
  }
  code = sqlite3_step(query);
  const bool known = code == SQLITE_ROW && sqlite3_column_type(query, 0) != SQLITE_NULL;
  const int version = known ? sqlite3_column_int(query, 0) : 0;
  sqlite3_finalize(query);
  if (code != SQLITE_ROW) return Refused(code);
  if (known && version > kBoxesSchemaVersion) {
    return NewerTablesFailure(version, path_);
  }
  if (inTransaction && !known) {
    const std::string insert =
        "INSERT INTO schema_version (version) VALUES (" + std::to_string(kBoxesSchemaVersion) + ")";
    code = sqlite3_exec(db_, insert.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) return Refused(code);
  }
  return {};
}

// Tables and indexes made when missing, and the layout's version checked, in one transaction
// that holds the write lock: two programs starting at once make them once.
Failure SqliteStore::MakeTables() {
  int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
  if (code == SQLITE_OK)
    code = sqlite3_exec(db_, BoxesDdl("sqlite").c_str(), nullptr, nullptr, nullptr);
  Failure failure = code == SQLITE_OK ? CheckVersion(true) : Refused(code);
  if (!failure.Failed() &&
      (code = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr)) != SQLITE_OK) {
    failure = Refused(code);
  }
  if (failure.Failed()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return failure;
}

Failure SqliteStore::Write(const nlohmann::ordered_json& record) {
  if (!insert_) {
    if (Failure failure = Open(); failure.Failed()) return failure;
  }
  return Insert(record);
}

Failure SqliteStore::WriteAll(const std::vector<nlohmann::ordered_json>& records) {
  if (!insert_) {
    if (Failure failure = Open(); failure.Failed()) return failure;
  }
  // One transaction: one sync of the file for them all.
  if (const int code = sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
      code != SQLITE_OK) {
    return Refused(code);
  }
  Failure failure;
  for (size_t i = 0; i < records.size() && !failure.Failed(); ++i) failure = Insert(records[i]);
  if (const int code =
          failure.Failed() ? SQLITE_OK : sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
      code != SQLITE_OK) {
    failure = Refused(code);
  }
  if (failure.Failed()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
  return failure;
}

Failure SqliteStore::Insert(const nlohmann::ordered_json& record) {
  const std::vector<ColumnValue> values = BoxColumnValues(record);
  const std::vector<BoxColumn>& columns = BoxColumns();
  sqlite3_reset(insert_);
  sqlite3_clear_bindings(insert_);
  for (size_t i = 0; i < values.size(); ++i) {
    const int at = int(i) + 1;
    if (values[i].null) continue;  // cleared: NULL
    if (columns[i].type == ColumnType::kInteger) {
      sqlite3_bind_int64(insert_, at, values[i].integer);
    } else if (columns[i].type == ColumnType::kReal) {
      sqlite3_bind_double(insert_, at, values[i].real);
    } else {
      sqlite3_bind_text(insert_, at, values[i].text.c_str(), int(values[i].text.size()),
                        SQLITE_TRANSIENT);
    }
  }
  const int code = sqlite3_step(insert_);
  if (code == SQLITE_DONE) {
    sqlite3_reset(insert_);
    return {};
  }
  const Failure failure = Refused(sqlite3_reset(insert_));
  return failure;
}

}  // namespace vn

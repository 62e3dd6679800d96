#pragma once
// What `--record TARGET` (and a report's SOURCE) names: a JSON-lines file, an SQLite database or
// a PostgreSQL server. One parse of the text decides, for every command that takes one.
#include <string>

namespace vn {

enum class RecordTargetKind { kJsonLines, kSqlite, kPostgres };

struct RecordTarget {
  RecordTargetKind kind = RecordTargetKind::kJsonLines;
  // The file's path (a `sqlite:` prefix taken off), or the PostgreSQL URL as given: libpq's own
  // connection string, never shown.
  std::string location;
  // What messages may show: the path, or the URL without its password.
  std::string shown;
  bool carriesPassword = false;  // the URL has a password in it
};

// `*.sqlite`, `*.db` and `sqlite:PATH` are SQLite databases, `postgresql://…` and `postgres://…`
// PostgreSQL servers; anything else is a JSON-lines file.
RecordTarget ParseRecordTarget(const std::string& text);

// The URL with the password of its user-info part (user:password@) and of a `password=` query
// parameter replaced by "***". Text that carries none comes back as it is.
std::string UrlWithoutPassword(const std::string& url, bool* hadPassword = nullptr);

// Whether this build writes to databases at all (it does not on Windows, at first).
bool DatabaseRecordsBuiltIn();

}  // namespace vn

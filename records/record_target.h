#pragma once
// What `--record TARGET` (and a report's SOURCE) names: a JSON-lines file, an SQLite database or
// a PostgreSQL server. One parse of the text decides, for every command that takes one.
#include <string>
#include <vector>

namespace vn {

enum class RecordTargetKind { kJsonLines, kSqlite, kPostgres };

struct RecordTarget {
  RecordTargetKind kind = RecordTargetKind::kJsonLines;
  // The file's path (a `sqlite:` prefix taken off), or the PostgreSQL URL as libpq is to read it
  // (see ParseRecordTarget): libpq's own connection string, never shown.
  std::string location;
  // What messages may show: the path, or the URL without its password.
  std::string shown;
  bool carriesPassword = false;  // the URL has a password in it
  // What no message may show: the URL as given and as handed to libpq (shown instead), and its
  // passwords as written, as libpq gets them and percent-decoded ("***" instead).
  std::vector<std::string> urls;
  std::vector<std::string> passwords;
};

// `*.sqlite`, `*.db` and `sqlite:PATH` are SQLite databases, `postgresql://…` and `postgres://…`
// (in any case) PostgreSQL servers; anything else is a JSON-lines file. libpq reads only the
// lower-case scheme, and takes the first '@' as the end of the user-info: the URL it gets has its
// scheme in lower case and an '@' of the user-info other than the last written %40.
RecordTarget ParseRecordTarget(const std::string& text);

// The URL with the password of its user-info part (user:password@) and of a `password=` query
// parameter replaced by "***". Text that carries none comes back as it is.
std::string UrlWithoutPassword(const std::string& url, bool* hadPassword = nullptr);

// `text` (a library's message, which may echo the connection string) with every form of the
// target's URL replaced by its shown form and every form of its password by "***".
std::string WithoutSecrets(const RecordTarget& target, std::string text);

// Whether this build writes to databases at all (it does not on Windows, at first).
bool DatabaseRecordsBuiltIn();

}  // namespace vn

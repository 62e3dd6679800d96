#include "records/sql_failure.h"

#include <sqlite3.h>

namespace vn {
namespace {

FailureKind SqliteKind(int code) {
  switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return FailureKind::kBusy;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return FailureKind::kPermissionDenied;
    case SQLITE_FULL:
      return FailureKind::kNoSpace;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
      return FailureKind::kDamaged;
    case SQLITE_CANTOPEN:
      return FailureKind::kNotFound;
    default:
      return FailureKind::kOther;
  }
}

// libpq's messages end in a newline and may run over several lines.
std::string OneLineOf(const std::string& words) {
  std::string line;
  for (char c : words) {
    if (c == '\n') {
      if (!line.empty() && line.back() != ' ') line += "; ";
    } else {
      line += c;
    }
  }
  while (!line.empty() && (line.back() == ' ' || line.back() == ';')) line.pop_back();
  return line;
}

}  // namespace

Failure SqliteFailure(int code, const std::string& words, const std::string& subject) {
  Failure failure = FailureSaying(SqliteKind(code), words, subject);
  failure.systemCode = code;
  return failure;
}

Failure PostgresFailure(const std::string& words, const std::string& sqlState,
                        const RecordTarget& target) {
  FailureKind kind = FailureKind::kOther;
  // 28: invalid authorization; 42501: insufficient privilege; 53100: disk full; 55P03: lock
  // not available; 3D000: no such database.
  if (sqlState.starts_with("28") || sqlState == "42501") kind = FailureKind::kPermissionDenied;
  if (sqlState == "53100") kind = FailureKind::kNoSpace;
  if (sqlState == "55P03") kind = FailureKind::kBusy;
  if (sqlState == "3D000") kind = FailureKind::kNotFound;
  return FailureSaying(kind, OneLineOf(WithoutSecrets(target, words)), target.shown);
}

}  // namespace vn

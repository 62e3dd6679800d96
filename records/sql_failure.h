#pragma once
// A database's refusal as a Failure: the engine's own words, with a kind the user can act on.
#include <string>

#include "platform/failure.h"
#include "records/record_target.h"

namespace vn {

// SQLite's primary result code and message.
Failure SqliteFailure(int code, const std::string& words, const std::string& subject);
// libpq's message (several lines: joined with "; ") and, when known, the SQLSTATE. libpq's words
// may echo the connection string, whole or in parts: every form of the target's URL and password
// is masked in them.
Failure PostgresFailure(const std::string& words, const std::string& sqlState,
                        const RecordTarget& target);

}  // namespace vn

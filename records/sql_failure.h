#pragma once
// A database's refusal as a Failure: the engine's own words, with a kind the user can act on.
#include <string>

#include "platform/failure.h"

namespace vn {

// SQLite's primary result code and message.
Failure SqliteFailure(int code, const std::string& words, const std::string& subject);
// libpq's message (several lines: joined with "; ") and, when known, the SQLSTATE.
Failure PostgresFailure(const std::string& words, const std::string& sqlState,
                        const std::string& subject);

}  // namespace vn

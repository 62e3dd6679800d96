#pragma once
// What the report needs of one box's record, read from any source: a JSON-lines file (schema 1 or
// later), an SQLite database or a PostgreSQL server. Only these fields are read, so that a million
// records stream through in little memory.
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/failure.h"
#include "records/record_target.h"

namespace vn {

struct BoxFacts {
  std::string id;  // recordId, or the id made for a record without one
  std::string start;
  std::string host;
  std::string port{};
  std::string file;
  std::string sha256;
  std::string result;  // "success", "failure", "stopped"
  std::string failureKind;
  std::string failure;
  double seconds = -1;     // < 0: not known
  double efficiency = -1;  // < 0: not timed
};

// Which boxes the report counts. Times are whole ISO 8601 UTC times (NormalizedTime's).
struct ReportFilter {
  std::string since{};  // start >= since; empty: from the first
  std::string until{};  // start < until; empty: to the last
  std::string port{};
  std::string firmware{};  // a SHA-256 prefix, a file name or a path

  bool Passes(const BoxFacts& facts) const;
};

// "2026-12-08", "2026-12-08T10", "2026-12-08 10:30", "…:30:15Z" and so on as the record's form,
// "2026-12-08T10:30:00.000Z"; empty when the text is no such time.
std::string NormalizedTime(const std::string& text);

// The facts of one record object.
BoxFacts FactsOfRecord(const nlohmann::ordered_json& record);

using FactsSink = std::function<void(const BoxFacts&)>;

// Streams every box of the source that passes the filter to `sink`; the databases apply the
// filter in their query. A line of a JSON-lines file that is no record is counted in `skipped`.
Failure ReadReportSource(const RecordTarget& source, const ReportFilter& filter,
                         const FactsSink& sink, int64_t& skipped);

// The same from a database (records/report_database.cpp, where databases are built in).
Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter& filter,
                          const FactsSink& sink);

// The whole records of a database's boxes that ended at or after `since` (the record's form of a
// time; empty: from the first), oldest first, at most `limit` of them, for the line page.
Failure ReadDatabaseRecords(const RecordTarget& source, const std::string& since, int limit,
                            const std::function<void(nlohmann::json record)>& sink);

}  // namespace vn

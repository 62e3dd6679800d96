#pragma once
// What the report needs of one box's record, read from any source: a JSON-lines file (schema 1 or
// later), an SQLite database or a PostgreSQL server. Only these fields are read, so that a million
// records stream through in little memory.
#include <cstdint>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/failure.h"
#include "records/record_target.h"
#include "records/record_time.h"

namespace vn {

// A figure the record does not give (null, absent, no number): not a number, so that every
// number a record holds, -1 included, counts as itself.
inline constexpr double kNoFigure = std::numeric_limits<double>::quiet_NaN();

struct BoxFacts {
  std::string id;     // recordId, or the id made for a record without one
  std::string start;  // once read (ReadTimes): the records' form in UTC, or empty for none
  std::string end;
  std::string host;
  std::string port{};
  std::string file;
  std::string sha256;
  std::string operation;  // as the record has it: "download", an upload's set, "verify" ...
  std::string result;     // "success", "failure", "stopped"; anything else is unknown
  std::string failureKind;
  std::string failure;
  double seconds = kNoFigure;
  double efficiency = kNoFigure;
  UtcMillis startTime = kNoTime;  // once read (ReadTimes)
  UtcMillis endTime = kNoTime;
};

// The record's start and end in the records' form, UTC, and as instants: false when either is
// there but no time.
bool ReadTimes(BoxFacts& facts);

// Which boxes the report counts. Times are in the records' form (NormalizedTime's).
struct ReportFilter {
  std::string since{};  // start >= since; empty: from the first
  std::string until{};  // start < until; empty: to the last
  std::string port{};
  std::string firmware{};  // a SHA-256 prefix (any case), a file name or a path
  // The operation whose boxes make the figures: "download", "upload", "verify", "identify" or
  // "all". The sources are read whole: every operation has its row in the report's breakdown.
  std::string operation = "download";

  bool Passes(const BoxFacts& facts) const;
};

// What a record's `operation` is an instance of: "download", "upload" (every set), "verify",
// "identify"; a word this program does not know stays as it is.
std::string OperationKind(const std::string& operation);

// Why a firmware filter cannot match anything ("a SHA-256 prefix needs ..."); empty when it can.
std::string FirmwareFilterProblem(const std::string& firmware);

// What a source held beside its records: lines that are no record, and among them records whose
// time cannot be read (the first such time, to be shown).
struct SkippedLines {
  int64_t count = 0;
  int64_t badTimes = 0;
  std::string firstBadTime;

  void AddBadTime(const BoxFacts& facts);
};

// The facts of one record object.
BoxFacts FactsOfRecord(const nlohmann::ordered_json& record);

using FactsSink = std::function<void(const BoxFacts&)>;

// Streams every box of the source that passes the filter to `sink`, its times read (ReadTimes);
// the databases apply the filter in their query. A line of a JSON-lines file that is no record,
// and a record whose time cannot be read, is counted in `skipped`.
Failure ReadReportSource(const RecordTarget& source, const ReportFilter& filter,
                         const FactsSink& sink, SkippedLines& skipped);

// The same from a database (records/report_database.cpp, where databases are built in).
Failure ReadDatabaseFacts(const RecordTarget& source, const ReportFilter& filter,
                          const FactsSink& sink, SkippedLines& skipped);

// The whole records of a database's boxes that ended at or after `since` (the record's form of a
// time; empty: from the first), oldest first, at most `limit` of them, for the line page.
Failure ReadDatabaseRecords(const RecordTarget& source, const std::string& since, int limit,
                            const std::function<void(nlohmann::json record)>& sink);

}  // namespace vn

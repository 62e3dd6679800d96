#pragma once
// Where box records go: a JSON-lines file, an SQLite database or a PostgreSQL server, behind one
// interface. A store is used by one thread at a time (RecordSink serializes a line's ports).
#include <atomic>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "records/record_target.h"

namespace vn {

class RecordStore {
 public:
  virtual ~RecordStore() = default;
  // Reaches the target and makes it ready to take records: the file is appendable, the database
  // answers, its tables are there (made when missing) and not newer than this program's. The
  // failure is in the file system's, SQLite's or libpq's own words.
  virtual Failure Open() = 0;
  // Adds one record; a record already there (by its id) is not added twice. The failure says why
  // it could not be written; the caller keeps the record.
  virtual Failure Write(const nlohmann::ordered_json& record) = 0;
  // Adds the records in order, in one transaction where the store has them: after a failure none
  // of them is in (or, without one, those before it, which are not added twice all the same).
  virtual Failure WriteAll(const std::vector<nlohmann::ordered_json>& records);
  // Whether a failed Write may succeed later (a server gone, a lock held): the record waits in
  // the spool then. A JSON-lines file is never spooled: its failures go to standard error.
  virtual bool Spools() const = 0;
};

// Whether a database file that is not there is made (a run's record) or refused (`records flush`:
// a mistyped name is said, not made).
enum class MissingDatabase { kMake, kRefuse };

// The store for a parsed target. `stop` ends a wait for a lock (JSON lines) and, soon after, one
// for a server.
std::unique_ptr<RecordStore> MakeRecordStore(const RecordTarget& target,
                                             const std::atomic<bool>* stop = nullptr,
                                             MissingDatabase missing = MissingDatabase::kMake);

}  // namespace vn

#include "records/record_store.h"

#include "records/json_lines_store.h"
#ifdef VESPANODE_DATABASE
#include "records/postgres_store.h"
#include "records/sqlite_store.h"
#endif

namespace vn {
namespace {

// Where the database libraries are not built in, a database target is refused before any box.
class NoDatabase : public RecordStore {
 public:
  explicit NoDatabase(std::string shown) : shown_(std::move(shown)) {}
  Failure Open() override {
    Failure failure = FailureSaying(FailureKind::kOther,
                                    "records in a database are not built into this "
                                    "vespanode-cli: use a JSON-lines file",
                                    shown_);
    failure.action = "cannot write records to";
    return failure;
  }
  Failure Write(const nlohmann::ordered_json&) override { return Open(); }
  bool Spools() const override { return false; }

 private:
  std::string shown_;
};

}  // namespace

Failure RecordStore::WriteAll(const std::vector<nlohmann::ordered_json>& records) {
  for (const nlohmann::ordered_json& record : records) {
    if (Failure failure = Write(record); failure.Failed()) return failure;
  }
  return {};
}

bool DatabaseRecordsBuiltIn() {
#ifdef VESPANODE_DATABASE
  return true;
#else
  return false;
#endif
}

std::unique_ptr<RecordStore> MakeRecordStore(const RecordTarget& target,
                                             const std::atomic<bool>* stop,
                                             [[maybe_unused]] MissingDatabase missing) {
  if (target.kind == RecordTargetKind::kJsonLines) {
    return std::make_unique<JsonLinesStore>(target.location, stop);
  }
#ifdef VESPANODE_DATABASE
  if (target.kind == RecordTargetKind::kSqlite)
    return std::make_unique<SqliteStore>(target.location, missing, stop);
  return std::make_unique<PostgresStore>(target, ServerWait{.stop = stop});
#else
  return std::make_unique<NoDatabase>(target.shown);
#endif
}

}  // namespace vn

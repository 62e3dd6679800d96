#pragma once
// Records in an SQLite database file: made when missing, in WAL mode, shared by every port and
// program on the PC (each write waits up to kSqliteBusyWait for another's lock).
#include <atomic>
#include <chrono>
#include <string>

#include "records/record_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace vn {

inline constexpr std::chrono::milliseconds kSqliteBusyWait{5000};

class SqliteStore : public RecordStore {
 public:
  // `stop` ends a wait for another program's lock.
  SqliteStore(std::string path, MissingDatabase missing = MissingDatabase::kMake,
              const std::atomic<bool>* stop = nullptr);
  ~SqliteStore() override;
  Failure Open() override;
  Failure Write(const nlohmann::ordered_json& record) override;
  Failure WriteAll(const std::vector<nlohmann::ordered_json>& records) override;
  bool Spools() const override { return true; }

 private:
  Failure Insert(const nlohmann::ordered_json& record);
  Failure Refused(int code) const;
  Failure CheckVersion(bool inTransaction);
  Failure MakeTables();
  void Close();

  static int WaitForLock(void* store, int tries);

  std::string path_;
  MissingDatabase missing_;
  const std::atomic<bool>* stop_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

// The path checks every output gets: no FIFO, device or folder, a parent that exists, and no file
// made read-only; and a name SQLite reads as a file (not empty, not ":memory:", no "file:" URI).
// An empty failure when SQLite may open it.
Failure SqlitePathFailure(const std::string& path);

// The name SQLite is given for `path`: links followed, and never one it reads as anything but a
// file.
std::string SqliteFileName(const std::string& path);

}  // namespace vn

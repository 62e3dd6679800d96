#pragma once
// Where a database's records wait while it cannot take them: a JSON-lines file per target in a
// private folder of this user's ($XDG_STATE_HOME/vespanode/spool, or ~/.local/state/…), written in
// order and emptied in order once the database answers again. Every program writing to the same
// database on this PC shares its spool file; appends and replays hold its lock.
#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/failure.h"
#include "records/record_target.h"

namespace vn {

// $XDG_STATE_HOME/vespanode/spool, or $HOME/.local/state/vespanode/spool. Not made here.
std::string SpoolFolder();

// How many spooled records go to the database at once, in one transaction.
inline constexpr size_t kSpoolBatch = 1000;

class RecordSpool {
 public:
  explicit RecordSpool(const RecordTarget& target);

  // The spool file: named after the target, so that `records flush TARGET` finds it.
  const std::string& Path() const { return path_; }
  // Where a line of the spool that holds no record is moved: beside it, "….rejected.jsonl".
  const std::string& RejectedPath() const { return rejectedPath_; }

  // Adds the records at the end, all or none. The folder is made when missing, and refused when it
  // is not this user's private one (a link, another user's, open to others); a link in the
  // spool's place is not followed. kBusy when another program held the spool's lock too long.
  Failure Add(const std::vector<nlohmann::ordered_json>& records);

  struct Replay {
    int written = 0;    // taken out of the spool into the database
    int rejected = 0;   // lines that held no record, moved to RejectedPath()
    int left = 0;       // still in it
    bool busy = false;  // another program is replaying it now: try later
    Failure failure;    // why the first record left could not be written, or the spool read
  };
  // Hands the spooled records, oldest first and up to kSpoolBatch at once, to `write`, up to its
  // first failure, and keeps only those it did not take. A line that is no record is moved aside
  // on the way. The file is read piece by piece: a spool of any size takes little memory.
  // Nothing spooled: nothing done.
  using Writer = std::function<Failure(const std::vector<nlohmann::ordered_json>& records)>;
  Replay Flush(const Writer& write);

  // Whether records wait (the file holds any bytes).
  bool Waiting() const;
  // How many records wait.
  int Count() const;

 private:
  // Writes the lines of the locked spool `fd`; how many of its bytes are taken.
  int64_t WriteLines(int fd, const Writer& write, Replay& replay) const;
  bool MoveAside(const std::string& line, Replay& replay) const;

  std::string path_;
  std::string rejectedPath_;
};

}  // namespace vn

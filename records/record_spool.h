#pragma once
// Where a database's records wait while it cannot take them: a JSON-lines file per target in a
// private folder of this user's ($XDG_STATE_HOME/vespanode/spool, or ~/.local/state/…), written in
// order and emptied in order once the database answers again. Every program writing to the same
// database on this PC shares its spool file; appends and replays hold its lock.
#include <functional>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/failure.h"
#include "records/record_target.h"

namespace vn {

// $XDG_STATE_HOME/vespanode/spool, or $HOME/.local/state/vespanode/spool. Not made here.
std::string SpoolFolder();

class RecordSpool {
 public:
  explicit RecordSpool(const RecordTarget& target);

  // The spool file: named after the target, so that `records flush TARGET` finds it.
  const std::string& Path() const { return path_; }

  // Adds the record at the end. The folder is made when missing, and refused when it is not this
  // user's private one (a link, another user's, open to others).
  Failure Add(const nlohmann::ordered_json& record);

  struct Replay {
    int written = 0;    // taken out of the spool
    int left = 0;       // still in it
    bool busy = false;  // another program is replaying it now: try later
    Failure failure;    // why the first record left could not be written, or the spool read
  };
  // Hands the spooled records, oldest first, to `write`, up to its first failure, and keeps only
  // those it did not take. Nothing spooled: nothing done.
  Replay Flush(const std::function<Failure(const nlohmann::ordered_json&)>& write);

  // Whether records wait (the file holds any bytes).
  bool Waiting() const;
  // How many records wait.
  int Count() const;

 private:
  std::string path_;
};

}  // namespace vn

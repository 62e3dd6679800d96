#pragma once
// The records of one run, from every port of it: each goes to the target, and when a database
// cannot take it, to the spool, to be written in order as soon as the database answers again.
// Ports call Deliver from their own threads: one record at a time goes through.
#include <atomic>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "records/record_spool.h"
#include "records/record_store.h"

namespace vn {

class RecordSink {
 public:
  RecordSink(const RecordTarget& target, std::unique_ptr<RecordStore> store);

  // Reaches the target before the first box, then writes what an earlier run left in the spool.
  // A failure means the run must not start.
  Failure Open();

  struct Outcome {
    bool lost = false;  // the record is nowhere but in the caller's hands: it must print it
    std::string say;    // what the user is told (empty: nothing)
  };
  // Writes the record; records spooled before it go first.
  Outcome Deliver(const nlohmann::ordered_json& record);
  // At the end of the run: the spool written once more. `say` names the spool when records are
  // left in it.
  Outcome Finish();
  // Records of this target still in the spool after Finish.
  int Left() const { return left_; }

 private:
  // Writes spooled records; true when none is left.
  bool Replay(std::string& say);

  RecordTarget target_;
  std::unique_ptr<RecordStore> store_;
  RecordSpool spool_;
  std::mutex mutex_;
  bool outage_ = false;  // told once per outage
  bool busy_ = false;    // the last replay found another program replaying
  int left_ = 0;
};

// The warning for a URL with a password in it, or empty.
std::string PasswordWarning(const RecordTarget& target);

}  // namespace vn

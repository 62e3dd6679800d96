#pragma once
// The records of one run, from every port of it: each goes to the target, and when a database
// cannot take it, to the spool, to be written in order as soon as the database answers again.
// Ports call Deliver from their own threads. A JSON-lines record is appended there and then; a
// database's is handed to a writer thread of the sink's own, so that a database that is slow,
// gone or frozen never holds up a box or a stop request.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "records/record_spool.h"
#include "records/record_store.h"

namespace vn {

class RecordSink {
 public:
  // What the user must be told, from whichever thread: `say`, and with it a record that is
  // nowhere else (null when none), to be printed whole.
  using Tell = std::function<void(const std::string& say, const nlohmann::ordered_json* lost)>;

  RecordSink(const RecordTarget& target, std::unique_ptr<RecordStore> store, Tell tell = {});
  ~RecordSink();

  // Reaches the target before the first box, then writes what an earlier run left in the spool.
  // A failure means the run must not start.
  Failure Open();

  struct Outcome {
    bool lost = false;  // the record is nowhere but in the caller's hands: it must print it
    std::string say;    // what the user is told (empty: nothing)
  };
  // A JSON-lines record is written, and the outcome says how that went. A database's is queued
  // and the outcome is empty: the writer takes it to the database (after the records spooled
  // before it) or to the spool, and tells what went wrong.
  Outcome Deliver(const nlohmann::ordered_json& record);
  // Waits until every record delivered so far is in the database, in the spool, or told as lost.
  void Settle();
  // At the end of the run: the writer done, and the spool written once more. `say` names the
  // spool when records are left in it.
  Outcome Finish();
  // Records of this target still in the spool after Finish.
  int Left() const { return left_; }
  // Records neither written nor spooled (each was told whole): the run failed.
  int Lost() const { return lost_; }
  // Records taken from the spool into the database.
  int Replayed() const { return replayed_; }

 private:
  using Records = std::vector<nlohmann::ordered_json>;
  // Writes spooled records; true when none is left, `why` says why otherwise.
  bool Replay(std::string& say, Failure& why);
  void WriteQueued();
  // Writes the records, older ones first, or spools what the database did not take.
  void Store(Records records, bool closing);
  void Spool(Records records, const Failure& why, bool closing);
  void Say(const std::string& say, const nlohmann::ordered_json* lost = nullptr);

  RecordTarget target_;
  std::unique_ptr<RecordStore> store_;
  RecordSpool spool_;
  Tell tell_;
  std::mutex mutex_;  // guards queue_, writing_ and closing_
  std::condition_variable changed_;
  Records queue_;  // delivered, not yet taken by the writer
  bool writing_ = false;
  bool closing_ = false;
  std::thread writer_;
  // The writer's own (Open's and Finish's while it does not run):
  Records unspooled_;     // the spool's lock was held too long: tried again, before newer ones
  Failure unspooledWhy_;  // why the database did not take them
  bool outage_ = false;   // told once per outage
  bool busy_ = false;     // the last replay found another program replaying
  int left_ = 0;
  std::atomic<int> lost_{0};
  std::atomic<int> replayed_{0};
};

// The warning for a URL with a password in it, or empty.
std::string PasswordWarning(const RecordTarget& target);

}  // namespace vn

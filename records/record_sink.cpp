#include "records/record_sink.h"

#include <chrono>

#include "platform/console.h"

namespace vn {

std::string PasswordWarning(const RecordTarget& target) {
  if (!target.carriesPassword) return {};
  return "warning: the URL " + target.shown +
         " carries a password, which is never shown, recorded or traced; a password file "
         "(PGPASSFILE) or PGPASSWORD keeps it out of the command line";
}

RecordSink::RecordSink(const RecordTarget& target, std::unique_ptr<RecordStore> store, Tell tell)
    : target_(target), store_(std::move(store)), spool_(target), tell_(std::move(tell)) {}

RecordSink::~RecordSink() {
  if (!writer_.joinable()) return;
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  writer_.join();
}

void RecordSink::Say(const std::string& say, const nlohmann::ordered_json* lost) {
  if (!say.empty() && tell_) tell_(say, lost);
}

Failure RecordSink::Open() {
  if (Failure failure = store_->Open(); failure.Failed()) return failure;
  if (!store_->Spools()) return {};
  std::string say;
  Failure unused;
  Replay(say, unused);
  Say(say);
  writer_ = std::thread([this] {
    // It starts before the run's stop requests are taken: one must not end the process here.
    KeepStopRequestsOffThisThread();
    WriteQueued();
  });
  return {};
}

bool RecordSink::Replay(std::string& say, Failure& why) {
  if (!spool_.Waiting()) return true;
  const RecordSpool::Replay replay =
      spool_.Flush([this](const Records& records) { return store_->WriteAll(records); });
  replayed_ += replay.written;
  if (replay.written > 0) {
    say = "the database " + target_.shown + " answers again: " + std::to_string(replay.written) +
          " spooled record(s) written";
  }
  if (replay.rejected > 0) {
    say += (say.empty() ? "" : "; ") + std::to_string(replay.rejected) + " line(s) of " +
           spool_.Path() + " held no record: moved to " + spool_.RejectedPath();
  }
  busy_ = replay.busy;
  if (replay.left == 0 && !replay.busy && !replay.failure.Failed()) {
    outage_ = false;
    return true;
  }
  why = replay.failure.Failed() ? replay.failure
        : replay.busy ? FailureSaying(FailureKind::kBusy, "another program writes the spool now")
                      : FailureSaying(FailureKind::kOther, "older records still wait in the spool");
  return false;
}

RecordSink::Outcome RecordSink::Deliver(const nlohmann::ordered_json& record) {
  Outcome outcome;
  if (!store_->Spools()) {
    const std::lock_guard lock(mutex_);
    if (const Failure failure = store_->Write(record); failure.Failed()) {
      outcome.lost = true;
      outcome.say = FailureText(failure) + "; the record follows";
    }
    return outcome;
  }
  {
    const std::lock_guard lock(mutex_);
    if (writer_.joinable() && !closing_) {
      queue_.push_back(record);
      changed_.notify_all();
      return outcome;
    }
  }
  // Without a writer (before Open, after Finish), here and now.
  Store({record}, true);
  return outcome;
}

void RecordSink::WriteQueued() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // Records the spool could not take yet are tried again every second.
    changed_.wait_for(lock, std::chrono::seconds(1),
                      [this] { return !queue_.empty() || closing_; });
    if (queue_.empty() && unspooled_.empty()) {
      if (closing_) return;
      continue;
    }
    Records records;
    records.swap(queue_);
    const bool closing = closing_;
    writing_ = true;
    lock.unlock();
    Store(std::move(records), closing);
    lock.lock();
    writing_ = false;
    changed_.notify_all();
  }
}

void RecordSink::Store(Records records, bool closing) {
  std::string say;
  Failure why = unspooledWhy_;
  size_t written = 0;
  // Older records first: while some wait (in the spool, or for it), these wait behind them.
  while (unspooled_.empty() && written < records.size() && Replay(say, why)) {
    why = store_->Write(records[written]);
    if (why.Failed()) break;
    ++written;
  }
  Say(say);
  records.erase(records.begin(), records.begin() + long(written));
  Spool(std::move(records), why, closing);
}

void RecordSink::Spool(Records records, const Failure& why, bool closing) {
  if (unspooled_.empty()) unspooledWhy_ = why;
  unspooled_.insert(unspooled_.end(), std::make_move_iterator(records.begin()),
                    std::make_move_iterator(records.end()));
  if (unspooled_.empty()) return;
  const Failure spooled = spool_.Add(unspooled_);
  if (!spooled.Failed()) {
    if (!outage_) {
      outage_ = true;
      Say("the database " + target_.shown + " did not take a record (" +
          FailureText(unspooledWhy_) + "): records wait in " + spool_.Path() +
          " and go in as soon as it answers again");
    }
    unspooled_.clear();
    return;
  }
  // Another program holds the spool (replaying it to a database that does not answer): they wait
  // here, and are tried again.
  if (spooled.kind == FailureKind::kBusy && !closing) return;
  for (const nlohmann::ordered_json& record : unspooled_) {
    ++lost_;
    Say("the record could not be written to " + target_.shown + " (" + FailureText(unspooledWhy_) +
            ") nor spooled: " + FailureText(spooled) + "; the record follows",
        &record);
  }
  unspooled_.clear();
}

void RecordSink::Settle() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return queue_.empty() && !writing_; });
}

RecordSink::Outcome RecordSink::Finish() {
  if (writer_.joinable()) {
    {
      const std::lock_guard lock(mutex_);
      closing_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }
  Outcome outcome;
  if (!store_->Spools()) return outcome;
  // Another program of the line may be writing the spool right now: its records are not left
  // over, so the wait for it is short.
  Failure why;
  for (int tries = 0; !Replay(outcome.say, why) && busy_ && tries < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  left_ = spool_.Count();
  if (left_ > 0) {
    if (!outcome.say.empty()) outcome.say += "; ";
    // Why they are left: the database's words, or the spool's own.
    const std::string because = why.Failed() ? " (" + FailureText(why) + ")" : "";
    outcome.say += std::to_string(left_) + " record(s) for " + target_.shown + " wait in " +
                   spool_.Path() + because + ": write them with `vespanode-cli records flush " +
                   target_.shown + "`";
  }
  return outcome;
}

}  // namespace vn

#include "records/record_sink.h"

#include <chrono>
#include <thread>

namespace vn {

std::string PasswordWarning(const RecordTarget& target) {
  if (!target.carriesPassword) return {};
  return "warning: the URL " + target.shown +
         " carries a password, which is never shown, recorded or traced; a password file "
         "(PGPASSFILE) or PGPASSWORD keeps it out of the command line";
}

RecordSink::RecordSink(const RecordTarget& target, std::unique_ptr<RecordStore> store)
    : target_(target), store_(std::move(store)), spool_(target) {}

Failure RecordSink::Open() {
  const std::lock_guard lock(mutex_);
  if (Failure failure = store_->Open(); failure.Failed()) return failure;
  if (store_->Spools()) {
    std::string unused;
    Replay(unused);
  }
  return {};
}

bool RecordSink::Replay(std::string& say) {
  if (!spool_.Waiting()) return true;
  const RecordSpool::Replay replay =
      spool_.Flush([this](const nlohmann::ordered_json& record) { return store_->Write(record); });
  if (replay.written > 0) {
    say = "the database " + target_.shown + " answers again: " + std::to_string(replay.written) +
          " spooled record(s) written";
  }
  if (replay.left == 0) outage_ = false;
  busy_ = replay.busy;
  return replay.left == 0 && !replay.busy;
}

RecordSink::Outcome RecordSink::Deliver(const nlohmann::ordered_json& record) {
  const std::lock_guard lock(mutex_);
  Outcome outcome;
  if (!store_->Spools()) {
    if (const Failure failure = store_->Write(record); failure.Failed()) {
      outcome.lost = true;
      outcome.say = FailureText(failure) + "; the record follows";
    }
    return outcome;
  }
  Failure failure;
  // Older records first: while some still wait, this one waits behind them.
  if (Replay(outcome.say)) {
    failure = store_->Write(record);
    if (!failure.Failed()) return outcome;
  } else {
    failure = FailureSaying(FailureKind::kOther, "older records still wait in the spool");
  }
  if (const Failure spooled = spool_.Add(record); spooled.Failed()) {
    outcome.lost = true;
    outcome.say = "the record could not be written to " + target_.shown + " (" +
                  FailureText(failure) + ") nor spooled: " + FailureText(spooled) +
                  "; the record follows";
    return outcome;
  }
  if (!outage_) {
    outage_ = true;
    if (!outcome.say.empty()) outcome.say += "; ";
    outcome.say += "the database " + target_.shown + " did not take a record (" +
                   FailureText(failure) + "): records wait in " + spool_.Path() +
                   " and go in as soon as it answers again";
  }
  return outcome;
}

RecordSink::Outcome RecordSink::Finish() {
  const std::lock_guard lock(mutex_);
  Outcome outcome;
  if (!store_->Spools()) return outcome;
  // Another program of the line may be writing the spool right now: its records are not left
  // over, so the wait for it is short.
  for (int tries = 0; !Replay(outcome.say) && busy_ && tries < 50; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  left_ = spool_.Count();
  if (left_ > 0) {
    if (!outcome.say.empty()) outcome.say += "; ";
    outcome.say += std::to_string(left_) + " record(s) for " + target_.shown + " wait in " +
                   spool_.Path() + ": write them with `vespanode-cli records flush " +
                   target_.shown + "`";
  }
  return outcome;
}

}  // namespace vn

#include "http/line_state.h"

#include <cmath>

#include "platform/text_format.h"

namespace vn::http {
namespace {

using Json = nlohmann::json;
using Ordered = nlohmann::ordered_json;

std::string TextOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

int64_t NumberOf(const Json& object, const char* key) {
  const auto found = object.find(key);
  return found != object.end() && found->is_number_integer() ? found->get<int64_t>() : 0;
}

Ordered TextOrNull(const std::string& text) {
  return text.empty() ? Ordered(nullptr) : Ordered(text);
}

bool IsPhase(const std::string& name) {
  return name == "connect" || name == "verify" || name == "transfer" || name == "erase" ||
         name == "program";
}

std::string NowText() {
  return IsoUtc(std::chrono::system_clock::now());
}

// A box that failed because its port went away ends the port's run there and then: the station
// has no port to wait on, so the page says so at once rather than with the run's summary.
void EndIfPortLost(StationState& station, const std::string& failureKind) {
  if (failureKind != "port-lost") return;
  station.ended = true;
  station.state = "closed";
}

}  // namespace

const std::vector<std::string>& StationStateNames() {
  static const std::vector<std::string> names = {"waiting", "connect", "verify",  "transfer",
                                                 "erase",   "program", "success", "failure",
                                                 "stopped", "closed"};
  return names;
}

LineState::LineState(RunDescription run)
    : run_(std::move(run)), started_(std::chrono::system_clock::now()) {
  for (const RunPort& port : run_.ports) {
    byPort_.emplace(port.port, stations_.size());
    StationState station;
    station.names = port;
    stations_.push_back(station);
  }
}

StationState* LineState::Find(const std::string& port) {
  const auto found = byPort_.find(port);
  return found == byPort_.end() ? nullptr : &stations_[found->second];
}

bool LineState::Digest(const Json& object) {
  if (!object.is_object()) return false;
  StationState* station = Find(TextOf(object, "port"));
  if (!station) return false;
  const std::string type = TextOf(object, "type");
  if (type == "event") {
    DigestEvent(*station, object);
  } else if (type == "box") {
    const auto record = object.find("record");
    if (record == object.end() || !record->is_object()) return false;
    DigestRecord(*station, *record);
  } else if (type == "detail") {
    station->detail = TextOf(object, "text");
  } else if (type == "summary") {
    station->ended = true;
    if (object.value("opened", true) == false || object.value("portLost", false) == true) {
      station->state = "closed";
    }
    if (const std::string detail = TextOf(object, "detail"); !detail.empty()) {
      station->detail = detail;
    }
  } else {
    return false;
  }
  station->changed = true;
  return true;
}

void LineState::DigestEvent(StationState& station, const Json& object) {
  const int box = int(NumberOf(object, "box"));
  if (box != station.box) {
    // The next box: the last one's outcome stays up until this one answers.
    station.box = box;
    station.engaged = false;
    station.boxEnded = false;
    station.percent = 0;
    station.boxBytesSent = 0;
    station.boxFramesResent = 0;
    station.boxTimeouts = 0;
  }
  const std::string kind = TextOf(object, "kind");
  const std::string phase = TextOf(object, "phase");
  if (const auto link = object.find("link"); link != object.end() && link->is_object()) {
    station.boxBytesSent = NumberOf(*link, "bytesSent");
    station.boxFramesResent = int(NumberOf(*link, "framesResent"));
    station.boxTimeouts = int(NumberOf(*link, "timeouts"));
  }
  const std::string text = TextOf(object, "text");
  if (!text.empty() &&
      (kind == "status" || kind == "percent" || kind == "failure" || kind == "success")) {
    station.status = text;
  }
  if (station.boxEnded) return;
  if (kind == "busy") station.engaged = true;
  if (kind == "failure") {
    station.state = "failure";
    station.boxEnded = true;
    station.failed = true;
    station.failureText = text;
    station.failureReason.clear();
    station.failureKind = TextOf(object, "failureKind");
    station.failureTime = NowText();
    EndIfPortLost(station, station.failureKind);
    return;
  }
  if (kind == "success") {
    station.state = "success";
    station.percent = 100;
    station.boxEnded = true;
    return;
  }
  if (kind == "percent") {
    const int64_t count = NumberOf(object, "count");
    station.percent = count > 0 ? int(NumberOf(object, "part") * 100 / count) : 0;
  }
  // Until a box answers, the station waits for one; the last box's outcome stays up meanwhile.
  if (!station.engaged) {
    if (station.state != "success" && station.state != "failure") station.state = "waiting";
    return;
  }
  if (IsPhase(phase) && phase != station.state) {
    station.state = phase;
    if (kind != "percent") station.percent = 0;
  }
}

void LineState::DigestRecord(StationState& station, const Json& record) {
  const std::string result = TextOf(record, "result");
  if (result == "success") {
    ++station.boxesDone;
  } else if (result == "stopped") {
    ++station.boxesStopped;
    station.state = "stopped";
  } else {
    ++station.boxesFailed;
    station.failed = true;
    station.state = "failure";
    if (const std::string text = TextOf(record, "failure"); !text.empty()) {
      station.failureText = text;
    }
    if (station.failureText.empty()) station.failureText = TextOf(record, "reason");
    station.failureReason = TextOf(record, "reason");
    if (const std::string kind = TextOf(record, "failureKind"); !kind.empty()) {
      station.failureKind = kind;
    }
    station.failureTime = TextOf(record, "end");
    EndIfPortLost(station, TextOf(record, "failureKind"));
  }
  station.boxEnded = true;
  // The last box's, or none when it was not timed: an older box's would pass for this one's.
  const auto efficiency = record.find("efficiency");
  station.efficiency =
      efficiency != record.end() && efficiency->is_number() ? efficiency->get<double>() : -1;
  station.bytesSentEnded += NumberOf(record, "bytesSent");
  station.framesResentEnded += NumberOf(record, "framesResent");
  station.timeoutsEnded += NumberOf(record, "timeouts");
  // The box's tallies now stand in the sums.
  station.boxBytesSent = 0;
  station.boxFramesResent = 0;
  station.boxTimeouts = 0;
  if (const auto seconds = record.find("seconds");
      seconds != record.end() && seconds->is_number()) {
    const double value = seconds->get<double>();
    for (size_t i = 0; i < kDurationBoundCount; ++i) {
      if (value <= kDurationBounds[i]) ++station.durationBuckets[i];
    }
    ++station.durationCount;
    station.durationSum += value;
  }
  records_.push_back(record);
}

Ordered LineState::StationJson(const StationState& station) {
  const int ended = station.boxesDone + station.boxesFailed;
  Ordered failure = nullptr;
  if (station.failed) {
    failure = {{"text", station.failureText},
               {"reason", TextOrNull(station.failureReason)},
               {"failureKind", TextOrNull(station.failureKind)},
               {"time", TextOrNull(station.failureTime)}};
  }
  return {
      {"port", station.names.port},
      {"comName", station.names.comName},
      {"state", station.state},
      {"percent", station.percent},
      {"box", station.box},
      {"boxesDone", station.boxesDone},
      {"boxesFailed", station.boxesFailed},
      {"boxesStopped", station.boxesStopped},
      {"yield", ended > 0 ? Ordered(double(station.boxesDone) / ended) : Ordered(nullptr)},
      {"status", station.status},
      {"detail", TextOrNull(station.detail)},
      {"lastFailure", failure},
      {"link",
       {{"efficiency", station.efficiency >= 0 ? Ordered(station.efficiency) : Ordered(nullptr)},
        {"framesResent", station.framesResentEnded + station.boxFramesResent},
        {"timeouts", station.timeoutsEnded + station.boxTimeouts},
        {"bytesSent", station.bytesSentEnded + station.boxBytesSent}}},
      {"ended", station.ended},
  };
}

Ordered LineState::LineJson(std::chrono::system_clock::time_point now) const {
  int done = 0;
  int failed = 0;
  for (const StationState& station : stations_) {
    done += station.boxesDone;
    failed += station.boxesFailed;
  }
  const double hours = std::chrono::duration<double>(now - started_).count() / 3600.0;
  const double perHour = hours > 0 ? (done + failed) / hours : 0.0;
  return {
      {"command", run_.command},
      {"file", run_.file},
      {"sha256", TextOrNull(run_.fileSha256)},
      {"identity", run_.identity},
      {"host", run_.host},
      {"started", IsoUtc(started_)},
      {"now", IsoUtc(now)},
      {"boxesDone", done},
      {"boxesFailed", failed},
      {"boxesPerHour", std::round(perHour * 10.0) / 10.0},
  };
}

}  // namespace vn::http

#include "cli/event_json.h"

#include "cli/json_fields.h"

namespace vn {
namespace {

using Json = nlohmann::ordered_json;

Json Head(const std::string& port, const char* type) {
  Json object;
  object["schema"] = kEventSchemaVersion;
  object["type"] = type;
  object["port"] = port;
  AddExactBytes(object, "port", port);
  return object;
}

}  // namespace

std::string EventJson(const std::string& port, const LinkEvent& event) {
  Json object = Head(port, "event");
  object["box"] = event.box;
  object["kind"] = EventKindName(event.kind);
  object["phase"] = PhaseName(event.phase);
  object["message"] = event.message >= 0 ? Json(event.message) : Json(nullptr);
  object["text"] = event.text;
  if (event.kind == EventKind::kPercent || event.kind == EventKind::kBar ||
      (event.kind == EventKind::kReport && event.count > 0)) {
    object["part"] = event.part;
    object["count"] = event.count;
  }
  if (event.kind == EventKind::kBytes) {
    object["bytesDone"] = event.bytesDone;
    object["bytesTotal"] = event.bytesTotal;
  }
  if (event.kind == EventKind::kFailure) {
    const char* kind = BoxFailureKindName(event.failureKind);
    object["failureKind"] = kind ? Json(kind) : Json(nullptr);
  }
  // A region a verify read back, in figures as well as in words.
  if (event.region.size > 0) {
    object["region"] = {
        {"address", event.region.address},
        {"size", event.region.size},
        {"bytesDiffering", event.region.bytesDiffering},
        {"firstDiffering",
         event.region.bytesDiffering > 0 ? Json(event.region.firstDiffering) : Json(nullptr)}};
  }
  object["link"] = LinkCountersJson(event.link);
  return OneLine(object);
}

std::string BoxJson(const std::string& port, const nlohmann::ordered_json& record) {
  Json object = Head(port, "box");
  object["record"] = record;
  return OneLine(object);
}

std::string DetailJson(const std::string& port, int box, const std::string& what,
                       const std::string& text) {
  Json object = Head(port, "detail");
  object["box"] = box;
  object["what"] = what;
  object["text"] = text;
  return OneLine(object);
}

std::string SummaryJson(const std::string& port, int done, int failed, bool opened, bool stopped,
                        bool portLost, const std::string& detail) {
  Json object = Head(port, "summary");
  object["opened"] = opened;
  object["boxesDone"] = done;
  object["boxesFailed"] = failed;
  object["stopped"] = stopped;
  object["portLost"] = portLost;
  object["detail"] = detail.empty() ? Json(nullptr) : Json(detail);
  return OneLine(object);
}

}  // namespace vn

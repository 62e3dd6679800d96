// The JSON-lines record: one line per box, appended under a lock (platform/append_line).
#include "records/json_lines_store.h"

#include "platform/append_line.h"

namespace vn {

JsonLinesStore::JsonLinesStore(std::string path, const std::atomic<bool>* stop)
    : path_(std::move(path)), stop_(stop) {}

Failure JsonLinesStore::Open() {
  Failure failure;
  if (CanAppendLines(path_, failure, stop_)) return {};
  failure.action = "cannot add to the record";
  failure.subject = path_;
  return failure;
}

Failure JsonLinesStore::Write(const nlohmann::ordered_json& record) {
  Failure failure;
  const std::string line =
      record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  if (AppendWholeLine(path_, line, failure, stop_)) return {};
  failure.action = "cannot add to the record";
  failure.subject = path_;
  return failure;
}

}  // namespace vn

// Without a database there is nothing to spool for: a JSON-lines record's failures go to
// standard error.
#include "records/record_spool.h"

namespace vn {

std::string SpoolFolder() {
  return {};
}

RecordSpool::RecordSpool(const RecordTarget&) {}

Failure RecordSpool::Add(const std::vector<nlohmann::ordered_json>&) {
  return FailureSaying(FailureKind::kOther, "no spool in this build");
}

RecordSpool::Replay RecordSpool::Flush(const Writer&) {
  return {};
}

bool RecordSpool::Waiting() const {
  return false;
}

int RecordSpool::Count() const {
  return 0;
}

}  // namespace vn

#pragma once
// A fast reading of one JSON-lines record for the report: one pass over the line that keeps the
// few fields the report counts and skips the rest, without building the whole object. Lines it
// does not expect (escapes in a field it keeps, no recordId, anything malformed) are left to the
// full parser.
#include <string_view>

#include "records/report_facts.h"

namespace vn {

// True with `facts` filled when the line is a record with a recordId and a result.
bool ScanRecordLine(std::string_view line, BoxFacts& facts);

}  // namespace vn

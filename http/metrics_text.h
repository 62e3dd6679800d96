#pragma once
// The line's numbers in the Prometheus text format (version 0.0.4), for /metrics.
#include <string>

#include "http/line_state.h"

namespace vn::http {

std::string MetricsText(const LineState& state);

// A label's value as the format writes it: backslash, double quote and newline escaped.
std::string EscapeLabel(const std::string& value);

}  // namespace vn::http

#include "http/metrics_text.h"

#include <cstdio>

namespace vn::http {
namespace {

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

class MetricsWriter {
 public:
  void Family(const char* name, const char* type, const char* help) {
    text_ += std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
  }
  void Sample(const std::string& name, const std::string& labels, double value) {
    text_ += name + "{" + labels + "} " + Number(value) + "\n";
  }
  std::string Take() { return std::move(text_); }

 private:
  std::string text_;
};

std::string PortLabel(const StationState& station) {
  return "port=\"" + EscapeLabel(station.names.port) + "\"";
}

void BoxCounts(MetricsWriter& out, const LineState& state) {
  out.Family("vespanode_boxes_total", "counter", "Boxes ended on each port, by result.");
  for (const StationState& station : state.Stations()) {
    const std::string port = PortLabel(station);
    out.Sample("vespanode_boxes_total", port + ",result=\"success\"", station.boxesDone);
    out.Sample("vespanode_boxes_total", port + ",result=\"failure\"", station.boxesFailed);
    out.Sample("vespanode_boxes_total", port + ",result=\"stopped\"", station.boxesStopped);
  }
}

void Durations(MetricsWriter& out, const LineState& state) {
  const char* name = "vespanode_box_duration_seconds";
  out.Family(name, "histogram", "How long each box took, start to end.");
  for (const StationState& station : state.Stations()) {
    const std::string port = PortLabel(station);
    for (size_t i = 0; i < kDurationBoundCount; ++i) {
      out.Sample(std::string(name) + "_bucket", port + ",le=\"" + Number(kDurationBounds[i]) + "\"",
                 double(station.durationBuckets[i]));
    }
    out.Sample(std::string(name) + "_bucket", port + ",le=\"+Inf\"", double(station.durationCount));
    out.Sample(std::string(name) + "_sum", port, station.durationSum);
    out.Sample(std::string(name) + "_count", port, double(station.durationCount));
  }
}

void LinkTallies(MetricsWriter& out, const LineState& state) {
  out.Family("vespanode_bytes_sent_total", "counter", "Bytes the PC wrote to the port.");
  for (const StationState& station : state.Stations()) {
    out.Sample("vespanode_bytes_sent_total", PortLabel(station),
               double(station.bytesSentEnded + station.boxBytesSent));
  }
  out.Family("vespanode_frames_resent_total", "counter", "Frames the PC had to send again.");
  for (const StationState& station : state.Stations()) {
    out.Sample("vespanode_frames_resent_total", PortLabel(station),
               double(station.framesResentEnded + station.boxFramesResent));
  }
  out.Family("vespanode_timeouts_total", "counter", "Waits for the box that ran out.");
  for (const StationState& station : state.Stations()) {
    out.Sample("vespanode_timeouts_total", PortLabel(station),
               double(station.timeoutsEnded + station.boxTimeouts));
  }
}

void States(MetricsWriter& out, const LineState& state) {
  out.Family("vespanode_station_state", "gauge", "1 for the state each station is in.");
  for (const StationState& station : state.Stations()) {
    for (const std::string& name : StationStateNames()) {
      out.Sample("vespanode_station_state", PortLabel(station) + ",state=\"" + name + "\"",
                 station.state == name ? 1 : 0);
    }
  }
  out.Family("vespanode_line_efficiency", "gauge",
             "The last box's transfer: line time over wall time (1 is the line's limit).");
  for (const StationState& station : state.Stations()) {
    if (station.efficiency >= 0) {
      out.Sample("vespanode_line_efficiency", PortLabel(station), station.efficiency);
    }
  }
}

}  // namespace

std::string EscapeLabel(const std::string& value) {
  std::string escaped;
  for (const char c : value) {
    if (c == '\\') {
      escaped += "\\\\";
    } else if (c == '"') {
      escaped += "\\\"";
    } else if (c == '\n') {
      escaped += "\\n";
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::string MetricsText(const LineState& state) {
  MetricsWriter out;
  BoxCounts(out, state);
  Durations(out, state);
  LinkTallies(out, state);
  States(out, state);
  return out.Take();
}

}  // namespace vn::http

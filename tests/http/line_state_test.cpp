// What the page shows, from the stream's objects: each row feeds a run's objects and checks the
// station as the API reports it, and the metrics as Prometheus reads them.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "form/status_tone.h"
#include "http/line_state.h"
#include "http/metrics_text.h"
#include "http/page_assets.h"

namespace vn::http {
namespace {

using Json = nlohmann::json;

RunDescription RunOn(std::vector<RunPort> ports) {
  RunDescription run;
  run.ports = std::move(ports);
  return run;
}

Json Event(int box, const std::string& kind, const std::string& phase, const std::string& text = "",
           Json extra = Json::object()) {
  Json event = {
      {"schema", 2},  {"type", "event"},
      {"port", "p1"}, {"box", box},
      {"kind", kind}, {"phase", phase},
      {"text", text}, {"link", {{"bytesSent", 100 * box}, {"framesResent", 1}, {"timeouts", 2}}}};
  event.update(extra);
  return event;
}

Json Record(int box, const std::string& result, double seconds, Json extra = Json::object()) {
  Json record = {{"port", "p1"},       {"box", box},         {"result", result},
                 {"failure", nullptr}, {"reason", nullptr},  {"end", "2026-12-08T09:00:00.000Z"},
                 {"bytesSent", 1000},  {"framesResent", 3},  {"timeouts", 1},
                 {"seconds", seconds}, {"efficiency", 0.981}};
  record.update(extra);
  return {{"schema", 2}, {"type", "box"}, {"port", "p1"}, {"record", record}};
}

struct StateRow {
  const char* name;
  std::vector<Json> objects;
  Json expected;  // fields of the station object that must match
};

const std::vector<StateRow> kRows = {
    {"before any box, waiting", {}, {{"state", "waiting"}, {"box", 0}, {"yield", nullptr}}},
    {"a box trying to connect still waits",
     {Event(1, "status", "connect", "Connectting...")},
     {{"state", "waiting"}, {"box", 1}, {"status", "Connectting..."}}},
    {"an answering box shows its phase and percent",
     {Event(1, "busy", "connect"),
      Event(1, "percent", "transfer", "T 50%", {{"part", 1}, {"count", 2}})},
     {{"state", "transfer"}, {"percent", 50}}},
    {"a success counts from its record",
     {Event(1, "busy", "connect"), Event(1, "success", "program", "Update Success!"),
      Record(1, "success", 12.5)},
     {{"state", "success"},
      {"percent", 100},
      {"boxesDone", 1},
      {"yield", 1.0},
      {"link",
       {{"efficiency", 0.981}, {"framesResent", 3}, {"timeouts", 1}, {"bytesSent", 1000}}}}},
    {"the last outcome stays while the next box is awaited",
     {Event(1, "busy", "connect"), Event(1, "success", "program"), Record(1, "success", 3),
      Event(2, "status", "connect", "Connectting...")},
     {{"state", "success"}, {"box", 2}}},
    {"a failure keeps its text and kind",
     {Event(1, "busy", "connect"),
      Event(1, "failure", "verify", "Verify Failed!", {{"failureKind", "identity-refused"}}),
      Record(1, "failure", 2, {{"failure", "Verify Failed!"}, {"reason", "refused"}})},
     {{"state", "failure"},
      {"boxesFailed", 1},
      {"yield", 0.0},
      {"lastFailure",
       {{"text", "Verify Failed!"},
        {"reason", "refused"},
        {"failureKind", "identity-refused"},
        {"time", "2026-12-08T09:00:00.000Z"}}}}},
    {"a stopped box counts as neither",
     {Event(1, "busy", "connect"), Record(1, "stopped", 1)},
     {{"state", "stopped"}, {"boxesDone", 0}, {"boxesFailed", 0}, {"boxesStopped", 1}}},
    {"the run's sums: ended boxes plus the open one",
     {Record(1, "success", 1), Event(2, "busy", "connect")},
     {{"link",
       {{"efficiency", 0.981}, {"framesResent", 4}, {"timeouts", 3}, {"bytesSent", 1200}}}}},
    {"a port that could not be opened is closed",
     {Json{{"schema", 3},
           {"type", "summary"},
           {"port", "p1"},
           {"opened", false},
           {"detail", "no such device"}}},
     {{"state", "closed"}, {"ended", true}, {"detail", "no such device"}}},
    {"a port gone under a box has ended at once, not with the run",
     {Event(1, "busy", "connect"),
      Event(1, "failure", "transfer", "Port lost", {{"failureKind", "port-lost"}}),
      Record(1, "failure", 2, {{"failureKind", "port-lost"}})},
     {{"state", "closed"}, {"ended", true}, {"boxesFailed", 1}}},
    {"a box without an efficiency clears the last one's",
     {Record(1, "success", 3), Record(2, "failure", 1, {{"efficiency", nullptr}})},
     {{"link",
       {{"efficiency", nullptr}, {"framesResent", 6}, {"timeouts", 2}, {"bytesSent", 2000}}}}},
    {"objects of other ports and of no kind are ignored",
     {Json{{"type", "event"}, {"port", "p9"}, {"box", 1}, {"kind", "failure"}},
      Json{{"type", "nonsense"}, {"port", "p1"}}, Json("text")},
     {{"state", "waiting"}}},
};

TEST(LineState, FollowsTheStream) {
  for (const StateRow& row : kRows) {
    SCOPED_TRACE(row.name);
    LineState state(RunOn({{"p1", "COM1"}}));
    for (const Json& object : row.objects) state.Digest(object);
    const Json station = LineState::StationJson(state.Stations()[0]);
    for (const auto& [key, value] : row.expected.items()) {
      EXPECT_EQ(station[key], value) << key << " in " << station.dump();
    }
  }
}

TEST(LineState, MetricsPassPromtool) {
  LineState state(RunOn({{"p1", "COM1"}, {"a\"b\\c\nd", "x"}}));
  state.Digest(Event(1, "busy", "connect"));
  state.Digest(Record(1, "success", 12.5));
  state.Digest(Record(2, "failure", 700, {{"efficiency", nullptr}}));
  const std::string text = MetricsText(state);
  EXPECT_EQ(text.find("vespanode_line_efficiency{port=\"p1\"}"), std::string::npos)
      << "the last box had no efficiency: no sample, not the box before's";
  EXPECT_NE(text.find("vespanode_boxes_total{port=\"p1\",result=\"success\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("vespanode_box_duration_seconds_bucket{port=\"p1\",le=\"20\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("vespanode_box_duration_seconds_bucket{port=\"p1\",le=\"+Inf\"} 2\n"),
            std::string::npos);
  EXPECT_NE(text.find("vespanode_station_state{port=\"p1\",state=\"failure\"} 1\n"),
            std::string::npos);
  EXPECT_NE(text.find("port=\"a\\\"b\\\\c\\nd\""), std::string::npos);
  if (std::system("command -v promtool >/dev/null 2>&1") != 0) GTEST_SKIP() << "no promtool";
  const std::string file = ::testing::TempDir() + "/metrics.txt";
  std::ofstream(file) << text;
  const std::string command = "promtool check metrics < " + file + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_TRUE(pipe);
  std::string said;
  char buffer[512];
  while (fgets(buffer, sizeof buffer, pipe)) said += buffer;
  EXPECT_EQ(pclose(pipe), 0) << said;
  EXPECT_EQ(said, "") << "promtool's remarks";
}

std::string Hex(Rgb colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02X%02X%02X", colour.red, colour.green, colour.blue);
  return text;
}

TEST(LinePage, DrawsTheWindowsTones) {
  const PageTones tones = Tones();
  EXPECT_EQ(tones.success, Hex(ColourOfTone(StatusTone::kSuccess)));
  EXPECT_EQ(tones.failure, Hex(ColourOfTone(StatusTone::kFailure)));
  EXPECT_EQ(tones.working, Hex(ColourOfTone(StatusTone::kNeutral)));
  const std::string css(FindPageAsset("/app.css")->body);
  for (const std::string_view tone : {tones.success, tones.failure, tones.working, tones.waiting}) {
    EXPECT_NE(css.find(tone), std::string::npos) << tone;
  }
}

}  // namespace
}  // namespace vn::http

// The report's counting: filters, times, duplicates across sources, yields, quantiles; and the
// text it shows of records.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "records/display_text.h"
#include "records/record_line_scan.h"
#include "records/report_tally.h"

namespace vn::testing {
namespace {

using json = nlohmann::ordered_json;

TEST(ReportTime, TheFormsPeopleTypeBecomeTheRecordsForm) {
  const std::pair<const char*, const char*> cases[] = {
      {"2026-12-08", "2026-12-08T00:00:00.000Z"},
      {"2026-12-08T10", "2026-12-08T10:00:00.000Z"},
      {"2026-12-08 10:30", "2026-12-08T10:30:00.000Z"},
      {"2026-12-08T10:30:15Z", "2026-12-08T10:30:15.000Z"},
      {"2026-12-08T10:30:15.250Z", "2026-12-08T10:30:15.250Z"},
      {"2026-12-08T10:3", ""},
      {"2026-12-8", ""},
      {"yesterday", ""},
      {"2026-12-08T10:30:15.2509Z", "2026-12-08T10:30:15.250Z"},
      {"2026-12-08T10:30:00.000+02:00", "2026-12-08T08:30:00.000Z"},
      {"2026-12-08T00:30-0130", "2026-12-08T02:00:00.000Z"},
      {"2026-01-01T01:00+02", "2025-12-31T23:00:00.000Z"},
      {"2024-02-29", "2024-02-29T00:00:00.000Z"},
      {"9999-12-31T23:59:59.999Z", "9999-12-31T23:59:59.999Z"},
      {"2026-13-45", ""},
      {"2026-02-30", ""},
      {"2026-12-08T25:61", ""},
      {"2026-12-08T10:30:60Z", ""},
      {"2026-12-08T10:30+24:00", ""},
      {"10:30:00.000+02:00", ""},
      {"2026-12-08T10:30:15.Z", ""},
      {"9999-12-31T23:00-02:00", ""},
      {"", ""},
  };
  for (const auto& [text, normal] : cases) EXPECT_EQ(NormalizedTime(text), normal) << text;
}

BoxFacts Box(const std::string& id, const std::string& port, const std::string& result,
             const std::string& start = "2026-12-08T10:00:00.000Z") {
  BoxFacts facts;
  facts.id = id;
  facts.port = port;
  facts.result = result;
  facts.start = start;
  facts.operation = "download";
  facts.file = "/line/app.dld";
  facts.sha256 = "ab12cd34" + std::string(56, '0');
  facts.seconds = 10;
  if (result == "failure") {
    facts.failureKind = "no-answer";
    facts.failure = "Connect Fail!";
  }
  ReadTimes(facts);
  return facts;
}

TEST(ReportFilter, EachConditionLeavesOutWhatItShould) {
  struct Case {
    ReportFilter filter;
    bool passes;
  };
  const BoxFacts box = Box("1", "COM1", "success", "2026-12-08T10:30:00.000Z");
  const Case cases[] = {
      {{}, true},
      {{.since = "2026-12-08T10:30:00.000Z"}, true},
      {{.since = "2026-12-08T10:30:00.001Z"}, false},
      {{.until = "2026-12-08T10:30:00.000Z"}, false},
      {{.until = "2026-12-08T10:30:00.001Z"}, true},
      {{.port = "COM1"}, true},
      {{.port = "COM2"}, false},
      {{.firmware = "ab12"}, true},
      {{.firmware = "AB12CD"}, true},
      {{.firmware = "ab1"}, false},  // too short to be a digest's prefix
      {{.firmware = "app.dld"}, true},
      {{.firmware = "/line/app.dld"}, true},
      {{.firmware = "other.dld"}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.filter.Passes(box), c.passes)
        << c.filter.since << c.filter.until << c.filter.port << c.filter.firmware;
  }
}

TEST(ReportTally, CountsEachBoxOnceAndRanksWhatFailed) {
  ReportTally tally;
  tally.Add(Box("a", "COM1", "success"));
  tally.Add(Box("b", "COM1", "failure"));
  tally.Add(Box("c", "COM2", "success", "2026-12-08T11:10:00.000Z"));
  tally.Add(Box("d", "COM2", "stopped", "2026-12-08T11:20:00.000Z"));
  tally.Add(Box("b", "COM1", "failure"));  // the same record from another source
  const json report = tally.Report({"x.jsonl", "y.sqlite"});
  EXPECT_EQ(report["boxes"], 4);
  EXPECT_EQ(report["succeeded"], 2);
  EXPECT_EQ(report["failed"], 1);
  EXPECT_EQ(report["stopped"], 1);
  EXPECT_EQ(report["duplicates"], 1);
  // A stopped box neither passes nor fails.
  EXPECT_NEAR(report["yield"].get<double>(), 2.0 / 3.0, 1e-4);
  EXPECT_EQ(report["stations"][0]["port"], "COM1") << "the worst station first";
  EXPECT_EQ(report["stations"][0]["yield"], 0.5);
  EXPECT_EQ(report["failureKinds"][0]["failureKind"], "no-answer");
  EXPECT_EQ(report["failureTexts"][0]["failure"], "Connect Fail!");
  ASSERT_EQ(report["hours"].size(), 2u);
  EXPECT_EQ(report["hours"][1]["hour"], "2026-12-08T11");
  EXPECT_EQ(report["boxesPerHour"], 3.0) << "4 boxes from 10:00 to 11:20";
  EXPECT_EQ(report["first"], "2026-12-08T10:00:00.000Z");
  EXPECT_EQ(report["efficiency"]["median"], nullptr) << "no box was timed";
  ReportTally many;  // ids past the first sizes of the tally's table of ids
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 5000; ++i) many.Add(Box(std::to_string(i), "COM1", "success"));
  }
  EXPECT_EQ(many.Report({})["boxes"], 5000);
  EXPECT_EQ(many.Duplicates(), 5000);
}

TEST(ReportTally, QuantilesTakeTheNearestRankAndTheMedianTheMiddle) {
  std::vector<double> none;
  EXPECT_TRUE(std::isnan(Quantile(none, 0.5)));
  EXPECT_TRUE(std::isnan(Median(none)));
  std::vector<double> values;
  for (int i = 100; i >= 1; --i) values.push_back(i);
  EXPECT_EQ(Quantile(values, 0.5), 50);
  EXPECT_EQ(Quantile(values, 0.05), 5);
  EXPECT_EQ(Quantile(values, 0.0), 1);
  EXPECT_EQ(Quantile(values, 1.0), 100);
  const std::pair<std::vector<double>, double> medians[] = {
      {{20, 1, 19, 2, 18, 3, 17, 4, 16, 5, 15, 6, 14, 7, 13, 8, 12, 9, 11, 10}, 10.5},
      {{3, 1, 2}, 2},
      {{-1, -1}, -1},
      {{1e308, 1e308}, 1e308},
  };
  for (auto [list, median] : medians) EXPECT_EQ(Median(list), median) << list.size();
}

// What an audit recomputing the report from the raw records found: each figure from the
// records as they are, whatever order the sources come in.
TEST(ReportTally, FiguresFollowTheRecordsInAnyOrder) {
  std::vector<BoxFacts> boxes;
  for (int i = 0; i < 4; ++i) {
    boxes.push_back(Box(std::to_string(i), "COM1", "success",
                        i < 3 ? "2026-12-08T06:30:00.000Z" : "2026-12-08T09:59:00.000Z"));
  }
  boxes[3].end = "2026-12-08T10:30:00.000Z";  // 4 boxes over 4 hours
  boxes[1].file = "app.dld";                  // the same digest under another name
  boxes[1].sha256[0] = 'A';
  boxes[2].result = "7";  // a result this program does not know
  boxes.push_back(Box("v", "COM1", "failure"));
  boxes.back().operation = "verify";
  // A copy of box 0 that ended later.
  BoxFacts later = Box("0", "COM1", "failure", "2026-12-08T06:30:00.000Z");
  later.end = "2026-12-08T06:31:00.000Z";
  boxes.push_back(later);
  boxes[0].end = "2026-12-08T06:30:30.000Z";
  for (BoxFacts& box : boxes) ReadTimes(box);
  json reports[2];
  for (json& report : reports) {
    ReportTally tally;
    for (const BoxFacts& box : boxes) tally.Add(box);
    report = tally.Report({});
    std::reverse(boxes.begin(), boxes.end());
  }
  EXPECT_EQ(reports[0], reports[1]);
  const json& report = reports[0];
  EXPECT_EQ(report["boxes"], 4);
  EXPECT_EQ(report["failed"], 1) << "the copy that ended last";
  EXPECT_EQ(report["unknown"], 1);
  EXPECT_EQ(report["yield"], 0.6667);
  EXPECT_EQ(report["conflicts"], 1);
  EXPECT_EQ(report["boxesPerHour"], 1.0);
  ASSERT_EQ(report["hours"].size(), 4u) << "idle hours are listed";
  EXPECT_EQ(report["hours"][1]["boxes"], 0);
  ASSERT_EQ(report["firmware"].size(), 1u);
  EXPECT_EQ(report["firmware"][0]["files"], json({"/line/app.dld", "app.dld"}));
  EXPECT_EQ(report["operations"][1], json({{"operation", "verify"},
                                           {"boxes", 1},
                                           {"succeeded", 0},
                                           {"failed", 1},
                                           {"stopped", 0},
                                           {"unknown", 0},
                                           {"yield", 0.0}}));
}

TEST(DisplayText, ControlsAndDirectionOverridesAreShownInert) {
  const std::string x = "\uFFFD";  // what stands for each
  const std::pair<std::string, std::string> cases[] = {
      {"COM1", "COM1"},
      {"K\u00FCche \u20AC", "K\u00FCche \u20AC"},
      {"\x1b]0;owned\x07", x + "]0;owned" + x},
      {"a\u202Eb\u2066\u200F\u061C", "a" + x + "b" + x + x + x},
      {"\xc2\x9b"
       "2J\x7f",
       x + "2J" + x},                                       // C1 CSI, DEL
      {"\x9b\xc0\xaf\xed\xa0\x80", x + x + x + x + x + x},  // no UTF-8
  };
  for (const auto& [raw, shown] : cases) EXPECT_EQ(DisplayText(raw), shown) << raw;
}

TEST(ReportTally, RecordsWithoutAnIdAreKeyedByPortStartBoxAndOperation) {
  json first = {{"schema", 1},    {"start", "2026-12-08T10:00:00.000Z"},
                {"port", "COM1"}, {"operation", "download"},
                {"box", 1},       {"result", "success"}};
  json again = first;
  json next = first;
  next["box"] = 2;
  EXPECT_EQ(FactsOfRecord(first).id, FactsOfRecord(again).id);
  EXPECT_NE(FactsOfRecord(first).id, FactsOfRecord(next).id);
  EXPECT_EQ(FactsOfRecord(first).id.size(), 36u);
  first["recordId"] = "0b0e4c56-8f6e-4a57-9b8e-0d7fd1c2a001";
  EXPECT_EQ(FactsOfRecord(first).id, "0b0e4c56-8f6e-4a57-9b8e-0d7fd1c2a001");
}

// The report's fast reading of a line gives what the full parser gives, or leaves the line to it.
TEST(RecordLineScan, AgreesWithTheFullParserOrDeclines) {
  const std::string id = R"("recordId":"0b0e4c56-8f6e-4a57-9b8e-0d7fd1c2a001")";
  const std::pair<std::string, bool> lines[] = {
      {"{" + id +
           R"(,"start":"2026-12-08T10:00:00.000Z","host":"pc","port":"COM1","box":3,)"
           R"("file":"a.dld","sha256":null,"header":{"x":[1,{"y":"}"}]},"result":"failure",)"
           R"("failureKind":"no-answer","failure":"Connect Fail!","reason":"a \"quoted\" {","seconds":12.5,)"
           R"("efficiency":null})",
       true},
      {"{ " + id + R"( , "result" : "success" , "seconds" : 1e1 , "efficiency" : 0.913 } )", true},
      {"{" + id + R"(,"result":"success","port":"COM\u0031"})", false},  // an escape kept: parser
      {R"({"result":"success","port":"COM1"})", false},                  // no recordId
      {"{" + id + R"(,"port":"COM1"})", false},                          // no result
      {"{" + id + R"(,"result":"success"} trailing)", false},
      {"{" + id + R"(,"result":"success","seconds":"x"})", false},
      {"{" + id + R"(,"result":"success","header":{"a":1})", false},  // cut short
      {"[]", false},
      {"{" + id +
           R"(,"result":"success","end":"2026-12-08T10:00:09.000Z","operation":"app",)"
           R"("seconds":-1,"efficiency":1e308})",
       true},
  };
  for (const auto& [line, scanned] : lines) {
    SCOPED_TRACE(line);
    BoxFacts facts;
    ASSERT_EQ(ScanRecordLine(line, facts), scanned);
    if (!scanned) continue;
    const BoxFacts parsed = FactsOfRecord(nlohmann::ordered_json::parse(line));
    EXPECT_EQ(facts.id, parsed.id);
    EXPECT_EQ(facts.start, parsed.start);
    EXPECT_EQ(facts.end, parsed.end);
    EXPECT_EQ(facts.operation, parsed.operation);
    EXPECT_EQ(facts.host, parsed.host);
    EXPECT_EQ(facts.port, parsed.port);
    EXPECT_EQ(facts.file, parsed.file);
    EXPECT_EQ(facts.sha256, parsed.sha256);
    EXPECT_EQ(facts.result, parsed.result);
    EXPECT_EQ(facts.failureKind, parsed.failureKind);
    EXPECT_EQ(facts.failure, parsed.failure);
    EXPECT_TRUE(std::isnan(parsed.seconds) ? std::isnan(facts.seconds)
                                           : facts.seconds == parsed.seconds);
    EXPECT_TRUE(std::isnan(parsed.efficiency) ? std::isnan(facts.efficiency)
                                              : facts.efficiency == parsed.efficiency);
  }
}

}  // namespace
}  // namespace vn::testing

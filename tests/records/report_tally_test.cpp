// The report's counting: filters, times, duplicates across sources, yields, quantiles.
#include <gtest/gtest.h>

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
      {"2026-12-08T10:30:15.2500Z", ""},
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
  facts.file = "/line/app.dld";
  facts.sha256 = "ab12cd34" + std::string(56, '0');
  facts.seconds = 10;
  if (result == "failure") {
    facts.failureKind = "no-answer";
    facts.failure = "Connect Fail!";
  }
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
  const json report = tally.Report({"x.jsonl", "y.sqlite"}, {});
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
  EXPECT_EQ(report["boxesPerHour"], 2.0);
  EXPECT_EQ(report["first"], "2026-12-08T10:00:00.000Z");
  EXPECT_EQ(report["efficiency"]["median"], nullptr) << "no box was timed";
}

TEST(ReportTally, QuantilesTakeTheNearestRank) {
  std::vector<float> none;
  EXPECT_EQ(Quantile(none, 0.5), -1);
  std::vector<float> values;
  for (int i = 100; i >= 1; --i) values.push_back(float(i));
  EXPECT_EQ(Quantile(values, 0.5), 50);
  EXPECT_EQ(Quantile(values, 0.05), 5);
  EXPECT_EQ(Quantile(values, 0.0), 1);
  EXPECT_EQ(Quantile(values, 1.0), 100);
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
  };
  for (const auto& [line, scanned] : lines) {
    SCOPED_TRACE(line);
    BoxFacts facts;
    ASSERT_EQ(ScanRecordLine(line, facts), scanned);
    if (!scanned) continue;
    const BoxFacts parsed = FactsOfRecord(nlohmann::ordered_json::parse(line));
    EXPECT_EQ(facts.id, parsed.id);
    EXPECT_EQ(facts.start, parsed.start);
    EXPECT_EQ(facts.host, parsed.host);
    EXPECT_EQ(facts.port, parsed.port);
    EXPECT_EQ(facts.file, parsed.file);
    EXPECT_EQ(facts.sha256, parsed.sha256);
    EXPECT_EQ(facts.result, parsed.result);
    EXPECT_EQ(facts.failureKind, parsed.failureKind);
    EXPECT_EQ(facts.failure, parsed.failure);
    EXPECT_EQ(facts.seconds, parsed.seconds);
    EXPECT_EQ(facts.efficiency, parsed.efficiency);
  }
}

}  // namespace
}  // namespace vn::testing

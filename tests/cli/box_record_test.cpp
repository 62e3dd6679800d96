// One `--record` line, read back as any consumer of the file would.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/box_record.h"
#include "cli/event_json.h"
#include "support/child_process.h"

namespace vn {
namespace {

using namespace std::chrono;

TEST(BoxRecord, ParsesBackWithTimesFiguresAndForeignBytes) {
  BoxRecord record;
  record.port = "/dev/ttyUSB0";
  record.operation = Operation::kDownload;
  record.box = 3;
  record.start = sys_days{2026y / 12 / 7} + 13h + 52min + 58s + 123ms;
  record.end = record.start + 61s + 7ms;
  record.file = "app-\xE9.dld";  // a Latin-1 name
  record.headerKnown = true;
  record.identity.manufactureIdent =
      "K\xFC"
      "che";  // Latin-1, not UTF-8
  record.identity.softwareVersion = "3.1";
  record.partitionCount = 4;
  record.result = BoxResult::kSuccess;
  record.phase = "transfer";
  record.counters.answers = 3;
  record.counters.answerDelayMicros = 1000;
  record.seconds = 61.0071;

  const std::string line = BoxRecordJson(record);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto json = nlohmann::json::parse(line, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << line;
  EXPECT_EQ(json["schema"], kRecordSchemaVersion);
  EXPECT_EQ(json["start"], "2026-12-07T13:52:58.123Z");
  EXPECT_EQ(json["end"], "2026-12-07T13:53:59.130Z");
  EXPECT_EQ(json["result"], "success");
  EXPECT_TRUE(json["failure"].is_null());
  EXPECT_TRUE(json["sha256"].is_null());
  EXPECT_EQ(json["header"]["manufactureIdent"], "K\uFFFDche");
  // A name that is not UTF-8 can still be recovered exactly; a UTF-8 one has no copy.
  EXPECT_EQ(json["file"], "app-\uFFFD.dld");
  EXPECT_EQ(json["fileBytes"], "6170702de92e646c64");
  EXPECT_FALSE(json.contains("portBytes"));
  EXPECT_EQ(json["header"]["softwareVersion"], "3.1");
  EXPECT_EQ(json["header"]["partitionCount"], 4);
  EXPECT_EQ(json["meanAnswerDelayMs"], 0.3);
  EXPECT_EQ(json["seconds"], 61.007);

  record.result = BoxResult::kFailure;
  record.failure = "Transfer failed!";
  record.headerKnown = false;
  const auto failed = nlohmann::json::parse(BoxRecordJson(record));
  EXPECT_EQ(failed["result"], "failure");
  EXPECT_EQ(failed["failure"], "Transfer failed!");
  EXPECT_TRUE(failed["header"].is_null());

  // A box that a stop cut short did not fail: a reader counting failures counts it as the run's
  // summary does.
  record.result = BoxResult::kStopped;
  record.reason = "stopped before the box was done";
  const auto stopped = nlohmann::json::parse(BoxRecordJson(record));
  EXPECT_EQ(stopped["result"], "stopped");
  EXPECT_TRUE(stopped["failure"].is_null());
  EXPECT_EQ(stopped["reason"], "stopped before the box was done");

  // Each of the three, and the stream's objects for a port whose name is not UTF-8, as their
  // schemas publish them.
  const std::string port = "/dev/tty\xFF";
  record.port = port;
  LinkEvent failure;
  failure.kind = EventKind::kFailure;
  failure.box = 1;
  LinkEvent percent;
  percent.kind = EventKind::kPercent;
  percent.box = 1;
  std::string lines = line + "\n" + BoxRecordJson(record) + "\n";
  for (const std::string& object :
       {EventJson(port, failure), EventJson(port, percent), BoxJson(port, BoxRecordObject(record)),
        DetailJson(port, 1, "detail", "Permission denied"),
        SummaryJson(port, 0, 1, true, false, true)}) {
    lines += object + "\n";
  }
  record.result = BoxResult::kFailure;
  lines += BoxRecordJson(record) + "\n";
  EXPECT_EQ(testing::JsonSchemaProblems(lines), "");
  EXPECT_NE(lines.find("\"portBytes\":\"2f6465762f747479ff\""), std::string::npos) << lines;
}

}  // namespace
}  // namespace vn

// One `--record` line, read back as any consumer of the file would.
#include <gtest/gtest.h>

#include <cerrno>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

#include "cli/box_record.h"
#include "cli/event_json.h"
#include "cli/json_fields.h"
#include "platform/host_name.h"
#include "platform/random_id.h"
#include "support/child_process.h"

namespace vn {
namespace {

using namespace std::chrono;

std::string RecordLine(const BoxRecord& record) {
  return OneLine(BoxRecordObject(record));
}

TEST(BoxRecord, ParsesBackWithTimesFiguresAndForeignBytes) {
  BoxRecord record;
  record.recordId = "3f2b8c1e-9a4d-4e6f-8b2a-0c1d2e3f4a5b";
  record.host = "line-pc-1";
  record.port = "/dev/ttyUSB0";
  record.operation = Operation::kDownload;
  BoxOutcome& outcome = record.outcome;
  outcome.box = 3;
  outcome.start = sys_days{2026y / 12 / 7} + 13h + 52min + 58s + 123ms;
  outcome.end = outcome.start + 61s + 7ms;
  record.file = "app-\xE9.dld";  // a Latin-1 name
  record.headerKnown = true;
  record.identity.manufactureIdent =
      "K\xFC"
      "che";  // Latin-1, not UTF-8
  record.identity.softwareVersion = "3.1";
  record.partitionCount = 4;
  outcome.result = BoxResult::kSuccess;
  outcome.phase = Phase::kTransfer;
  outcome.link.answers = 3;
  outcome.link.answerDelayMicros = 1000;
  outcome.seconds = 61.0071;

  const std::string line = RecordLine(record);
  EXPECT_EQ(line.find('\n'), std::string::npos);
  const auto json = nlohmann::json::parse(line, nullptr, false);
  ASSERT_FALSE(json.is_discarded()) << line;
  EXPECT_EQ(json["schema"], kRecordSchemaVersion);
  EXPECT_EQ(json["start"], "2026-12-07T13:52:58.123Z");
  EXPECT_EQ(json["end"], "2026-12-07T13:53:59.130Z");
  EXPECT_EQ(json["result"], "success");
  EXPECT_TRUE(json["failure"].is_null());
  EXPECT_TRUE(json["failureKind"].is_null());
  EXPECT_TRUE(json["reason"].is_null());
  EXPECT_EQ(json["phase"], "transfer");
  EXPECT_EQ(json["recordId"], "3f2b8c1e-9a4d-4e6f-8b2a-0c1d2e3f4a5b");
  EXPECT_EQ(json["host"], "line-pc-1");
  EXPECT_TRUE(json["regionsChecked"].is_null());
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

  outcome.result = BoxResult::kFailure;
  outcome.statusText = "Transfer failed!";
  outcome.failureKind = BoxFailureKind::kTooManyResends;
  record.headerKnown = false;
  const auto failed = nlohmann::json::parse(RecordLine(record));
  EXPECT_EQ(failed["result"], "failure");
  EXPECT_EQ(failed["failure"], "Transfer failed!");
  EXPECT_EQ(failed["failureKind"], "too-many-resends");
  EXPECT_TRUE(failed["reason"].is_null()) << "the status text said it all";
  EXPECT_TRUE(failed["header"].is_null());

  // A box that a stop cut short did not fail: a reader counting failures counts it as the run's
  // summary does.
  outcome.result = BoxResult::kStopped;
  outcome.failureKind = BoxFailureKind::kStopped;
  const auto stopped = nlohmann::json::parse(RecordLine(record));
  EXPECT_EQ(stopped["result"], "stopped");
  EXPECT_TRUE(stopped["failure"].is_null());
  EXPECT_EQ(stopped["failureKind"], "stopped");
  EXPECT_EQ(stopped["reason"], "stopped before the box was done");

  // Each of the three, and the stream's objects for a port whose name is not UTF-8, as their
  // schemas publish them.
  const std::string port = "/dev/tty\xFF";
  record.port = port;
  LinkEvent failure;
  failure.kind = EventKind::kFailure;
  failure.box = 1;
  failure.failureKind = BoxFailureKind::kPortLost;
  LinkEvent refusal = StatusEvent("Can not open download file!", EventKind::kFailure);
  refusal.box = 1;  // a refusal before any box has no kind
  LinkEvent percent;
  percent.kind = EventKind::kPercent;
  percent.box = 1;
  std::string lines = line + "\n" + RecordLine(record) + "\n";
  for (const std::string& object :
       {EventJson(port, failure), EventJson(port, refusal), EventJson(port, percent),
        BoxJson(port, BoxRecordObject(record)), DetailJson(port, 1, "detail", "Permission denied"),
        SummaryJson(port, 0, 1, true, false, true, "the port went away under box 1"),
        SummaryJson(port, 0, 0, false, false, false, "cannot open port"),
        SummaryJson(port, 1, 0, true, false, false, "")}) {
    lines += object + "\n";
  }
  outcome.result = BoxResult::kFailure;
  outcome.failureKind = BoxFailureKind::kPortLost;
  outcome.failure = FailureOfErrno(EIO);
  lines += RecordLine(record) + "\n";
  EXPECT_EQ(nlohmann::json::parse(RecordLine(record))["reason"],
            "the port went away: Input/output error");
  EXPECT_EQ(testing::JsonSchemaProblems(lines), "");
  // A record whose kind goes against its result is refused by the schema: the check is real.
  auto wrong = BoxRecordObject(record);
  wrong["failureKind"] = "erase-flash-failed";
  EXPECT_NE(testing::JsonSchemaProblems(OneLine(wrong) + "\n"), "");
  wrong["failureKind"] = nullptr;
  EXPECT_NE(testing::JsonSchemaProblems(OneLine(wrong) + "\n"), "") << "a failure needs its kind";
  EXPECT_NE(lines.find("\"portBytes\":\"2f6465762f747479ff\""), std::string::npos) << lines;
}

// Every record's id is a version 4 UUID of its own, however many are made; the host is named.
TEST(BoxRecord, IdsAreFreshVersionFourUuidsAndTheHostIsNamed) {
  std::array<uint8_t, 16> ones{};
  ones.fill(0xFF);
  EXPECT_EQ(UuidOfBytes(ones), "ffffffff-ffff-4fff-bfff-ffffffffffff");
  EXPECT_EQ(UuidOfBytes({}), "00000000-0000-4000-8000-000000000000");
  const std::regex form("^[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}$");
  std::set<std::string> seen;
  for (int i = 0; i < 1000; ++i) {
    const std::string id = NewRecordId();
    EXPECT_TRUE(std::regex_match(id, form)) << id;
    EXPECT_TRUE(seen.insert(id).second) << id;
  }
  EXPECT_FALSE(HostName().empty());
  EXPECT_NE(HostName(), "unknown") << "this machine has a name";
}

}  // namespace
}  // namespace vn

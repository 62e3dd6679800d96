// What a port's reports look like, fed with events as a run reports them.
#include "cli/port_reporter.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "link/link_message.h"
#include "support/child_process.h"

namespace vn {
namespace {

using FilePtr = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// What the reporter shows of one box's transfer failing in the erase phase, as the driver tells it.
std::string ReadAll(std::FILE* file) {
  std::string text(1 << 16, '\0');
  std::rewind(file);
  text.resize(std::fread(text.data(), 1, text.size(), file));
  return text;
}

std::string Shown(OutputMode mode, bool several, int columns) {
  FilePtr out(std::tmpfile(), &std::fclose);
  FilePtr errors(std::tmpfile(), &std::fclose);
  LineOutput output(out.get(), errors.get(), mode, 2, columns);
  PortSetup setup;
  setup.port = "COM7";
  setup.several = several;
  PortReporter reporter(output, setup);
  LinkCounters link;  // the box's tallies, as every event carries them
  auto send = [&reporter, &link](LinkEvent event) {
    event.box = 1;
    event.link = link;
    reporter.OnEvent(event);
  };
  send(MessageEvent(kMsgTransfer));
  send(PercentEvent(Phase::kTransfer, 1, 3));
  link.framesResent = 2;
  LinkEvent bytes;
  bytes.kind = EventKind::kBytes;
  bytes.phase = Phase::kTransfer;
  bytes.bytesDone = 40000;
  bytes.bytesTotal = 120000;
  send(bytes);
  send(PercentEvent(Phase::kTransfer, 3, 3));
  send(MessageEvent(kMsgTransferSuccess));
  send(PercentEvent(Phase::kErase, 1, 2));
  send(MessageEvent(kMsgEraseFailed));
  send(StatusEvent("", EventKind::kIdle));
  reporter.FinishRun();
  return ReadAll(out.get());
}

TEST(PortReporter, PlainLinesAreTheStatusTextsNamedByPortWhenThereAreSeveral) {
  EXPECT_EQ(Shown(OutputMode::kPlain, false, 0),
            "Transfer...\nTransfering Data:  33%\nTransfering Data:  100%\nTransfer Success!\n"
            "Erase flash...  50%\nErase flash failed!\n");
  EXPECT_EQ(Shown(OutputMode::kPlain, true, 0),
            "COM7: Transfer...\nCOM7: Transfering Data:  33%\nCOM7: Transfering Data:  100%\n"
            "COM7: Transfer Success!\nCOM7: Erase flash...  50%\nCOM7: Erase flash failed!\n");
}

TEST(PortReporter, TerminalRowsFitANarrowTerminalAndKeepTheLinkHealth) {
  for (const bool several : {false, true}) {
    SCOPED_TRACE(several);
    const std::string shown = Shown(OutputMode::kTerminal, several, 40);
    // What the screen holds once the cursor movements have been applied is at most what was
    // printed; no printed line may be wider than the terminal.
    const std::string plain = std::regex_replace(shown, std::regex("\033\\[[0-9]*[A-Za-z]|\r"), "");
    std::istringstream lines(plain);
    for (std::string line; std::getline(lines, line);) EXPECT_LT(line.size(), 40u) << line;
    EXPECT_NE(plain.find("Erase flash failed!"), std::string::npos);
  }
  // Wide enough, the transfer row tells the resends.
  EXPECT_NE(Shown(OutputMode::kTerminal, false, 120).find("2 resent, 0 timeouts"),
            std::string::npos);
}

// How each way a box can end reaches the stream, the record and standard error: from the box's
// outcome and its failure event's typed fields, never from a status text.
TEST(PortReporter, EachEndingReachesTheStreamTheRecordAndStandardErrorByItsKind) {
  const Failure noSpace = FailureOfErrno(ENOSPC, "cannot write", "key.dld.partial");
  const struct {
    const char* name;
    BoxResult result;
    BoxFailureKind kind;
    int message;  // the failure's status text; -1: none
    Failure failure;
    const char* reason;    // the record's, and (but for a stop) standard error's; "" none
    const char* kindWord;  // the record's failureKind; nullptr: null
  } rows[] = {
      {"success", BoxResult::kSuccess, BoxFailureKind::kNone, -1, {}, "", nullptr},
      {"full disk", BoxResult::kFailure, BoxFailureKind::kOutputUnwritable, kMsgTransferFailed,
       noSpace,
       "cannot write key.dld.partial: No space left on device (disk full: free some space and "
       "start again)",
       "output-unwritable"},
      {"port lost", BoxResult::kFailure, BoxFailureKind::kPortLost, kMsgTransferFailed,
       FailureOfErrno(EIO), "the port went away: Input/output error", "port-lost"},
      {"stall", BoxResult::kFailure, BoxFailureKind::kStalled, kMsgEraseFailed,
       FailureSaying(FailureKind::kOther, "the box made no progress for 5 s (the stall limit)"),
       "the box made no progress for 5 s (the stall limit)", "stalled"},
      {"refusal",
       BoxResult::kFailure,
       BoxFailureKind::kIdentityRefused,
       kMsgIdentFailed,
       {},
       "",
       "identity-refused"},
      {"stop", BoxResult::kStopped, BoxFailureKind::kStopped, kMsgTransferFailed,
       FailureSaying(FailureKind::kStopped, "stopped before the box was done"),
       "stopped before the box was done", "stopped"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    for (const OutputMode mode : {OutputMode::kJson, OutputMode::kPlain}) {
      FilePtr out(std::tmpfile(), &std::fclose);
      FilePtr errors(std::tmpfile(), &std::fclose);
      LineOutput output(out.get(), errors.get(), mode, 1, 0);
      PortSetup setup;
      setup.port = "COM7";
      setup.file = "key.dld";
      PortReporter reporter(output, setup);
      LinkEvent busy = StatusEvent("", EventKind::kBusy);
      busy.box = 1;
      reporter.OnEvent(busy);
      BoxOutcome outcome;
      outcome.box = 1;
      outcome.result = row.result;
      outcome.failureKind = row.kind;
      outcome.failure = row.failure;
      outcome.phase = Phase::kTransfer;
      if (row.message >= 0) {
        LinkEvent failed = MessageEvent(row.message);
        failed.box = 1;
        failed.failureKind = row.kind;
        failed.failure = row.failure;
        reporter.OnEvent(failed);
        if (row.result == BoxResult::kFailure) outcome.statusText = failed.text;
      }
      reporter.OnBoxEnd(outcome);
      reporter.FinishRun();
      const std::string shown = ReadAll(out.get());
      const std::string said = ReadAll(errors.get());
      const bool stopped = row.result == BoxResult::kStopped;
      if (mode == OutputMode::kPlain) {
        // A stop says nothing of the box; a failure its reason, when the system gave one.
        if (*row.reason && !stopped) {
          EXPECT_EQ(said, std::string("vespanode-cli: ") + row.reason + "\n");
        } else {
          EXPECT_EQ(said, "");
        }
        continue;
      }
      EXPECT_EQ(testing::JsonSchemaProblems(shown), "");
      nlohmann::json record;
      int failureEvents = 0;
      for (const std::string& line : testing::Lines(shown)) {
        const auto object = nlohmann::json::parse(line);
        if (object["type"] == "box") record = object["record"];
        if (object["type"] == "event" && object["kind"] == "failure") {
          ++failureEvents;
          EXPECT_EQ(object["failureKind"], row.kind == BoxFailureKind::kNone
                                               ? nlohmann::json(nullptr)
                                               : nlohmann::json(row.kindWord));
        }
      }
      EXPECT_EQ(failureEvents, row.message >= 0 ? 1 : 0);
      ASSERT_TRUE(record.is_object()) << shown;
      EXPECT_EQ(record["schema"], 2);
      EXPECT_EQ(record["failureKind"],
                row.kindWord ? nlohmann::json(row.kindWord) : nlohmann::json(nullptr));
      EXPECT_EQ(record["reason"],
                *row.reason ? nlohmann::json(row.reason) : nlohmann::json(nullptr));
      EXPECT_EQ(record["result"], BoxResultName(row.result));
      EXPECT_EQ(record["recordId"].get<std::string>().size(), 36u);
      EXPECT_FALSE(record["host"].get<std::string>().empty());
      EXPECT_TRUE(record["regionsChecked"].is_null());
    }
  }
}

}  // namespace
}  // namespace vn

// --trace on both programs: the two sides of one run, laid next to each other, tell the same story.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <regex>
#include <sstream>

#include "dld/region_sets.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

// Time to the microsecond, the port when there are several, direction, kind, size, first bytes.
const std::regex kTraceLine(
    R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{6}Z( \S+)? (sent|received|dropped) [a-z0-9-]+ \d+)"
    R"(( [0-9a-f]{2}){1,16}( \.\.\.)?)");

// "sent header", ... from the start command on, as the box sees it: the PC's directions turned
// round. The box's announcements before it and what either side dropped are left out.
std::vector<std::string> Exchange(const std::vector<std::string>& lines, bool turnRound) {
  std::vector<std::string> exchange;
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, kTraceLine)) << line;
    std::istringstream words(line);
    std::string when, direction, kind;
    words >> when >> direction >> kind;
    if (direction == "dropped") continue;
    if (exchange.empty() && !kind.starts_with("start-")) continue;
    if (turnRound) direction = direction == "sent" ? "received" : "sent";
    exchange.push_back(direction + " " + kind);
  }
  return exchange;
}

TEST(CliTrace, BothSidesTraceEveryMessageInTheSameOrder) {
  const struct {
    const char* name;
    std::vector<std::string> command;  // before --port; FILE is added
    bool pcTraceOnStderr;
    std::vector<std::string> kinds;  // each must be in the exchange
  } rows[] = {{"download",
               {"download"},
               false,
               {"start-download", "header", "ack", "verdict-ok", "descriptor", "data-frame",
                "erase-ok", "program-ok"}},
              {"upload",
               {"upload", "--set", "key", "--force"},
               true,
               {"start-upload", "header", "ack", "verdict-ok", "read-request", "descriptor",
                "data-frame"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    ScratchFolder folder;
    const std::string file = folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 23));
    const std::string boxTrace = folder.File("box.trace");
    const std::string pcTrace = row.pcTraceOnStderr ? "-" : folder.File("pc.trace");
    ChildResult pc;
    const ChildResult box =
        RunBox({"--sessions", "1", "--erase-ms", "0", "--program-ms", "0", "--trace", boxTrace},
               [&](const std::string& pty, int) {
                 std::vector<std::string> args = row.command;
                 args.insert(args.end(), {"--port", pty, file, "--trace", pcTrace});
                 pc = RunCli(args);
               });
    ASSERT_EQ(pc.exitCode, 0) << pc.err;
    ASSERT_EQ(box.exitCode, 0) << box.err;

    // On standard error the trace stands among the tool's other words, which are not its lines.
    std::vector<std::string> pcLines = Lines(row.pcTraceOnStderr ? pc.err : ReadText(pcTrace));
    if (row.pcTraceOnStderr) std::erase_if(pcLines, [](auto& l) { return !l.starts_with("20"); });
    const std::vector<std::string> pcSide = Exchange(pcLines, true);
    const std::vector<std::string> boxSide = Exchange(Lines(ReadText(boxTrace)), false);
    EXPECT_EQ(pcSide, boxSide);
    for (const std::string& kind : row.kinds) {
      EXPECT_TRUE(std::ranges::any_of(boxSide, [&](auto& m) { return m.ends_with(" " + kind); }))
          << kind;
    }
  }
}

// Lines from stations on several threads stay whole, and each names its port.
TEST(CliTrace, SeveralPortsNameTheirPortOnEveryLine) {
  VirtualBox first, second;
  ASSERT_TRUE(first.Start());
  ASSERT_TRUE(second.Start());
  ScratchFolder folder;
  const std::string file = folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 24));
  const std::string trace = folder.File("pc.trace");
  const ChildResult run = RunCli(
      {"download", "--port", first.PtyPath(), "--port", second.PtyPath(), file, "--trace", trace});
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::array<int, 2> headers{};
  for (const std::string& line : Lines(ReadText(trace))) {
    EXPECT_TRUE(std::regex_match(line, kTraceLine)) << line;
    const bool onFirst = line.find(" " + first.PtyPath() + " ") != std::string::npos;
    const bool onSecond = line.find(" " + second.PtyPath() + " ") != std::string::npos;
    EXPECT_TRUE(onFirst != onSecond) << line;
    if (line.find(" sent header ") != std::string::npos) ++headers[onFirst ? 0 : 1];
  }
  EXPECT_EQ(headers, (std::array{1, 1}));  // one box on each port
}

// A trace to a standard error that nobody reads fills its pipe and waits there: the program must
// still end at once on a stop request, having written what it could.
TEST(CliTrace, AStopEndsEitherProgramWhileTheTraceWaitsOnAnUnreadStandardError) {
  using Clock = std::chrono::steady_clock;
  constexpr int kPipeSize = 4096;  // a few dozen trace lines fill it
  const std::chrono::seconds hangGuard{20};
  for (const bool box : {false, true}) {
    SCOPED_TRACE(box ? "vespanode-box" : "vespanode-cli");
    ScratchFolder folder;
    const std::string file = folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 25));
    Clock::time_point stopAt{};
    ChildResult run;
    if (box) {
      run = RunBox(
          {"--erase-ms", "0", "--program-ms", "0", "--trace", "-"},
          [&](const std::string& pty, int pid) {
            EXPECT_EQ(RunCli({"download", "--port", pty, file}).exitCode, 0);
            stopAt = Clock::now();
            kill(pid, SIGINT);
          },
          hangGuard, kPipeSize);
    } else {
      BoxOptions fast;
      fast.eraseTime = fast.programTime = std::chrono::milliseconds(0);
      VirtualBox served(fast);
      ASSERT_TRUE(served.Start());
      ChildOptions options;
      options.timeout = hangGuard;
      options.unreadErrPipeSize = kPipeSize;
      options.onLine = [&](const std::string& line, int pid) {
        if (stopAt == Clock::time_point{} && line.find("Update Success!") != std::string::npos) {
          stopAt = Clock::now();
          kill(pid, SIGINT);
        }
      };
      run = RunCli(
          {"download", "--port", served.PtyPath(), file, "--boxes", "0", "--json", "--trace", "-"},
          options);
    }
    ASSERT_NE(stopAt, Clock::time_point{}) << "the box was served";
    EXPECT_FALSE(run.timedOut);
    // A second, with room for a loaded machine; before, the programs waited for good.
    EXPECT_LT(Clock::now() - stopAt, std::chrono::seconds(5));
    EXPECT_EQ(run.exitCode, box ? 0 : 130);
  }
}

}  // namespace
}  // namespace vn::testing

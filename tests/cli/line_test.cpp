// vespanode-cli on a line that others share or whose reader goes away.
#include <gtest/gtest.h>

#include "dld/region_sets.h"
#include "link/system_port.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

std::string KeyFile(const ScratchFolder& folder) {
  return folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 31));
}

// `vespanode-cli download ... | head -2`: the box is flashed to its end all the same, and the
// exit code still tells the result.
TEST(CliLine, AClosedStandardOutputDoesNotStopTheFlash) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  ChildOptions options;
  options.closeOutAfterLines = 2;
  const ChildResult run = RunCli({"download", "--port", box.PtyPath(), KeyFile(folder)}, options);
  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_TRUE(box.WaitSessions(1, std::chrono::seconds(10)));
  EXPECT_EQ(box.Stats().downloadsDone, 1);
}

// Standard output that takes nothing (a full disk): the box is served to its end, and the
// program says on standard error that its lines are lost and ends with 1, not 0.
TEST(CliLine, AFullStandardOutputIsSaidAndIsNoSuccess) {
  ScratchFolder folder;
  const std::string file = KeyFile(folder);
  const std::vector<std::vector<std::string>> commands = {
      {"download", file}, {"download", file, "--json"}, {"inspect", file}};
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0] + " " + command.back());
    VirtualBox box;
    ASSERT_TRUE(box.Start());
    const bool download = command[0] == "download";
    std::vector<std::string> args = {"-c", "exec \"$0\" \"$@\" >/dev/full",
                                     OurProgram("vespanode-cli")};
    args.insert(args.end(), command.begin(), command.end());
    if (download) args.insert(args.end(), {"--port", box.PtyPath()});
    const ChildResult run = RunChild("/bin/sh", args);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    EXPECT_NE(run.err.find("cannot write to standard output: No space left"), std::string::npos)
        << run.err;
    if (!download) continue;
    EXPECT_TRUE(box.WaitSessions(1, std::chrono::seconds(10)));
    EXPECT_EQ(box.Stats().downloadsDone, 1);
  }
}

// A second copy, root's too, finds the port busy and says so, leaving the first one's run alone.
TEST(CliLine, ABusyPortIsRefusedWithItsReason) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  auto holder = MakeSystemComPort();
  ASSERT_TRUE(holder->OpenComPort(box.PtyPath()));
  ScratchFolder folder;
  const ChildResult run = RunCli({"download", "--port", box.PtyPath(), KeyFile(folder)});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("busy"), std::string::npos) << run.err;
  EXPECT_TRUE(holder->PortOpened());
}

}  // namespace
}  // namespace vn::testing

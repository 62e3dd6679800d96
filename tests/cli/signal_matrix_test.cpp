// SIGINT, SIGTERM (with a trace), SIGHUP (a closed terminal) and SIGKILL in each phase of a
// download, an upload and a verify: never a success, the exit status of the signal, on disk the
// upgrade file as it was, the old backup as it was, and nothing that passes for a finished backup;
// a record that says the box was stopped, and a summary that counts it as the records do.
#include <gtest/gtest.h>
#include <signal.h>

#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "dld/pack.h"
#include "dld/region_sets.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

struct SignalRow {
  int signal;
  bool upload;
  const char* phaseLine;  // the status line at which the signal is sent
  bool verify = false;    // a verify of the file rather than a download
};

std::string RowName(const ::testing::TestParamInfo<SignalRow>& info) {
  const SignalRow& row = info.param;
  std::string name = row.signal == SIGINT    ? "Int"
                     : row.signal == SIGTERM ? "Term"
                     : row.signal == SIGHUP  ? "Hup"
                                             : "Kill";
  name += row.upload ? "Upload" : row.verify ? "Verify" : "Download";
  for (const char* c = row.phaseLine; *c && *c != '.'; ++c) {
    if (std::isalnum(static_cast<unsigned char>(*c))) name += *c;
  }
  return name;
}
void PrintTo(const SignalRow& row, std::ostream* out) {
  *out << row.phaseLine;
}

class SignalInPhase : public ::testing::TestWithParam<SignalRow> {};

TEST_P(SignalInPhase, EndsWithoutSuccessAndLeavesTheFilesSound) {
  const SignalRow& row = GetParam();
  // The phase must still run when the signal lands, however slow the machine: a transfer on a
  // line paced at its real rate, or erase and program reports a second apart.
  BoxOptions slow;
  slow.flash = SampleFlashImage(71);
  slow.pace = row.phaseLine == std::string("Transfer...");
  if (!slow.pace) slow.eraseTime = slow.programTime = std::chrono::milliseconds(1000);
  VirtualBox box(slow);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::vector<uint8_t> before = row.upload
                                          ? std::vector<uint8_t>{0x11, 0x44, 0, 'o', 'l', 'd'}
                                          : SampleUpgradeFile(Operation::kUploadDefault, 72);
  const std::string file = folder.Write("default.dld", before);
  ChildOptions options;
  options.onLine = [&row](const std::string& line, int pid) {
    const auto event = nlohmann::json::parse(line, nullptr, false);
    if (event.value("type", "") == "event" && event.value("text", "") == row.phaseLine) {
      kill(pid, row.signal);
    }
  };
  const std::string record = folder.File("line.jsonl");
  std::vector<std::string> args =
      row.upload ? std::vector<std::string>{"upload",  "--port", box.PtyPath(), "--set",
                                            "default", file,     "--force"}
                 : std::vector<std::string>{row.verify ? "verify" : "download", "--port",
                                            box.PtyPath(), file};
  args.insert(args.end(), {"--json", "--record", record});
  // A trace's writer starts before the stop requests are taken: it must not take them instead.
  const std::string trace = folder.File("pc.trace");
  if (row.signal == SIGTERM) args.insert(args.end(), {"--trace", trace});
  // So must the line page's threads, which start before them too.
  if (row.signal == SIGINT) args.insert(args.end(), {"--http", "127.0.0.1:0"});

  const ChildResult run = RunCli(args, options);

  EXPECT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, row.signal == SIGKILL ? 128 + SIGKILL : 130) << run.err;
  EXPECT_EQ(run.out.find("Update Success!"), std::string::npos);
  EXPECT_EQ(run.out.find("Verify Success!"), std::string::npos);
  if (row.signal != SIGKILL) {
    const std::vector<std::string> records = Lines(ReadText(record));
    ASSERT_EQ(records.size(), 1u) << "the stopped box has its record, and only it";
    const auto boxRecord = nlohmann::json::parse(records[0]);
    EXPECT_EQ(boxRecord["result"], "stopped") << records[0];
    EXPECT_TRUE(boxRecord["failure"].is_null()) << records[0];
    EXPECT_EQ(boxRecord["reason"], "stopped before the box was done") << records[0];
    EXPECT_EQ(boxRecord["failureKind"], "stopped") << records[0];
    ASSERT_FALSE(run.out.empty());
    const auto summary = nlohmann::json::parse(Lines(run.out).back(), nullptr, false);
    const auto stopped = nlohmann::json::parse(
        R"({"type":"summary","boxesDone":0,"boxesFailed":0,"stopped":true,"portLost":false,
            "detail":"stopped by a stop request"})");
    for (const auto& [field, value] : stopped.items()) EXPECT_EQ(summary[field], value) << run.out;
    if (row.signal == SIGTERM) {
      EXPECT_TRUE(ReadText(trace).ends_with("\n")) << "whole lines";
    }
  }
  EXPECT_EQ(ReadBytes(file), before);
  const std::string partial = file + ".partial";
  if (row.upload && row.signal != SIGKILL) {
    EXPECT_TRUE(std::filesystem::exists(partial)) << "where the data received so far went";
  }
  EXPECT_FALSE(PassesForABackup(ReadBytes(partial)));
}

std::vector<SignalRow> AllRows() {
  std::vector<SignalRow> rows;
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGKILL}) {
    for (const char* line : {"Transfer...", "Erase flash...  50%", "Program flash...  50%"}) {
      rows.push_back({signal, false, line});
    }
    rows.push_back({signal, true, "Transfer..."});
    rows.push_back({signal, false, "Transfer...", true});
  }
  return rows;
}

INSTANTIATE_TEST_SUITE_P(Matrix, SignalInPhase, ::testing::ValuesIn(AllRows()), RowName);

}  // namespace
}  // namespace vn::testing

// vespanode-cli download and upload against the virtual box, what they print and how they exit,
// also on a line that others share or whose reader goes away; and the bad input that every
// command refuses before it touches a box or a file.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <numeric>
#include <thread>

#include "dld/extract.h"
#include "dld/inspect.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/system_port.h"
#include "sim/pty_line.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

std::string KeyFile(const ScratchFolder& folder) {
  return folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 21));
}

// A run prints the status texts one a line and exits 0 after a sound box; after a failed box it
// exits 1 with the failure text last, and a pulled cable is a failed box, not an interrupt. An
// upload replaces FILE only when it succeeds, and says where the part received before a failure is.
TEST(CliTransfer, ExitsWithTheBoxsOutcomeAndPrintsItsStatusTexts) {
  const std::vector<std::string> allDone = {
      "Connectting...",         "Connect Success!", "Verify...",
      "Ident check Success!",   "Transfer...",      "Transfering Data:  100%",
      "Transfer Success!",      "Erase flash...",   "Erase flash...  100%",
      "Erase flash Success!",   "Program flash...", "Program flash...  100%",
      "Program flash Success!", "Update Success!"};
  BoxFaults refusing, vanishing;
  refusing.refuseIdentity = true;
  vanishing.vanishAt = FaultStep::kFrame;
  const struct {
    bool upload;
    BoxFaults faults;
    int exit;
    std::vector<std::string> lines;  // all of them, or the last alone
    const char* says;
  } rows[] = {{false, {}, 0, allDone, ""},
              {false, refusing, 1, {"Ident check failed!"}, ""},
              {false, vanishing, 1, {"Transfer failed!"}, "went away"},
              {true, {}, 0, {"Update Success!"}, ""},
              {true, vanishing, 1, {"Transfer failed!"}, "/key.dld.partial"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.upload ? "upload: " : "download: ") + row.lines.back());
    BoxOptions options;
    options.flash = SampleFlashImage(22);
    options.faults = row.faults;
    VirtualBox box(options);
    ASSERT_TRUE(box.Start());
    ScratchFolder folder;
    const std::string file = KeyFile(folder);
    const std::vector<uint8_t> old = ReadBytes(file);
    // As the synopses write them: options after FILE too.
    const ChildResult run =
        RunCli(row.upload ? std::vector<std::string>{"upload", "--port", box.PtyPath(), "--set",
                                                     "key", file, "--force"}
                          : std::vector<std::string>{"download", "--port", box.PtyPath(), file,
                                                     "--boxes", "1"});
    EXPECT_EQ(run.exitCode, row.exit) << run.err;
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(row.lines.size() > 1 ? lines : std::vector{lines.back()}, row.lines);
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    if (!row.upload || row.exit != 0) {
      EXPECT_EQ(ReadBytes(file), old);
    } else {
      EXPECT_NE(ReadBytes(file), old);
      EXPECT_TRUE(InspectUpgradeFile(ReadBytes(file)).Sound());
    }
    if (row.upload && row.exit != 0) {
      EXPECT_GE(ReadBytes(file + ".partial").size(), size_t(kHeaderSize));
    }
  }
}

std::vector<std::string> FolderEntries(const ScratchFolder& folder);

// A fault that ends a box early, on an unattended line that goes on to the next box.
struct EarlyEnd {
  const char* name;
  BoxFaults faults;
  const char* command = "download";  // verify for what the box sends
};

void PrintTo(const EarlyEnd& row, std::ostream* out) {
  *out << row.name;
}

class CliEarlyEnd : public ::testing::TestWithParam<EarlyEnd> {};

// Every box that engaged has its record, and only those: what a failed box left on the line, or
// sent in place of its ready frame, is no box of its own.
TEST_P(CliEarlyEnd, EveryBoxSessionHasOneRecord) {
  BoxOptions options;
  options.faults = GetParam().faults;
  VirtualBox box(options);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string record = folder.File("line.jsonl");
  const ChildResult run =
      RunCli({GetParam().command, "--port", box.PtyPath(), "--boxes", "2", "--keep-going",
              "--stall-timeout", "1", "--record", record, KeyFile(folder)});
  EXPECT_EQ(Lines(ReadText(record)).size(), size_t(box.Stats().sessionsStarted)) << run.out;
  EXPECT_EQ(run.out.find("Connect failed!"), std::string::npos) << run.out;
}

using enum FaultStep;
const EarlyEnd kEarlyEnds[] = {
    {"NakFrame", {.nakFrame = 1, .nakFrameTimes = 10}},
    {"DropAck", {.dropAck = 2, .dropAckTimes = 10}},
    {"NakAck", {.nakAck = 2, .nakAckTimes = 10}},
    {"NakHeaderAlways", {.nakHeaderAlways = 1}},
    {"CorruptFrame", {.corruptFrame = 1, .corruptFrameTimes = 10}, "verify"},
    {"BadHeaderCrc", {.badHeaderCrc = 1}, "verify"},
    {"BadDescriptorCrc", {.badDescriptorCrc = 1, .badDescriptorCrcTimes = 10}, "verify"},
    {"ResendAckedFrame", {.resendAckedFrame = 1}, "verify"},
    {"NonReadyFirst", {.nonReadyFirst = true}},
    {"SilentAt", {.silentAt = kErase}},
    {"EraseFailAt", {.eraseFailAt = 1}},
    {"ProgramFailAt", {.programFailAt = 1}},
    {"RefuseIdentity", {.refuseIdentity = true}},
    {"VanishAt", {.vanishAt = kFrame}},
    {"DamageReceived", {.damageReceived = kAnswer, .damageReceivedNth = 3}, "verify"}};
INSTANTIATE_TEST_SUITE_P(Faults, CliEarlyEnd, ::testing::ValuesIn(kEarlyEnds),
                         [](const auto& info) { return std::string(info.param.name); });

// verify and identify read a box and write nothing: one line per region or identity field, the
// verdict last, exit 0 for a box that holds the file (or would take it), 1 otherwise, and a
// pulled cable a failed box.
TEST(CliReadBack, VerifyAndIdentifySayWhatTheBoxHoldsAndExitWithIt) {
  FileIdentity stranger = LabBoxIdentity();
  stranger.hardwareVersion = "1.01";
  const struct {
    std::string name;
    std::string command;
    BoxFaults faults;
    uint32_t changed = 0;     // a flash byte the box holds changed
    FileIdentity identity{};  // of the file (identify --file); empty: the lab box's
    bool withFile = true;
    int exit = 0;
    std::vector<std::string> lines;     // the last lines printed
    const char* failureKind = nullptr;  // the record's; null for a success
  } rows[] = {
      {"verify matches",
       "verify",
       {},
       0,
       {},
       true,
       0,
       {"Transfer Success!", "0x40180000  65536  same", "Verify Success!"}},
      {"verify, a byte changed",
       "verify",
       {},
       0x40187FFF,
       {},
       true,
       1,
       {"0x40180000  65536  differs from 0x40187FFF (1 byte differs)",
        "Verify failed at 0x40187FFF!"},
       "content-differs"},
      {"verify, the last byte changed",
       "verify",
       {},
       0x4018FFFF,
       {},
       true,
       1,
       {"0x40180000  65536  differs from 0x4018FFFF (1 byte differs)",
        "Verify failed at 0x4018FFFF!"},
       "content-differs"},
      {"verify, the region answered short",
       "verify",
       {.shortRegion = 1},
       0,
       {},
       true,
       1,
       {"0x40180000  65536  differs from 0x40188000 (32768 bytes differ)",
        "Verify failed at 0x40188000!"},
       "content-differs"},
      {"verify, a descriptor damaged",
       "verify",
       {.badDescriptorCrc = 1},
       0,
       {},
       true,
       0,
       {"Verify Success!"}},
      {"verify --save, a byte changed",
       "verify --save",
       {},
       0x40180000,
       {},
       true,
       1,
       {"Verify failed at 0x40180000!"},
       "content-differs"},
      {"verify, the cable pulled",
       "verify",
       {.vanishAt = FaultStep::kFrame},
       0,
       {},
       true,
       1,
       {"Transfer failed!"},
       "port-lost"},
      {"identify",
       "identify",
       {},
       0,
       {},
       false,
       0,
       {"manufacture ident: VESPANODE-LAB", "hardware module: VN-HW1", "hardware version: 1.00",
        "software module: VN-SW1", "software version: 3.1.05", "ident for nocheck: 0",
        "kind code: 0", "partition count: 0", "total size: 0",
        "reserved: 56 4E 42 4F 58 01 00 5A A5 00 00", "Identify Success!"}},
      {"identify, the file fits",
       "identify",
       {},
       0,
       {},
       true,
       0,
       {"the file fits: every identity field is the box's", "Identify Success!"}},
      {"identify, the file would be refused",
       "identify",
       {},
       0,
       stranger,
       true,
       1,
       {"hardware version: box 1.00, file 1.01", "The box would refuse this file!"},
       "identity-mismatch"},
      {"identify, the header damaged",
       "identify",
       {.badHeaderCrc = 1},
       0,
       {},
       false,
       1,
       {"Ident check failed!"},
       "damaged-data"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    BoxOptions options;
    options.flash = SampleFlashImage(23);
    if (row.changed) options.flash[row.changed - kFlashBase] ^= 0x5A;
    options.faults = row.faults;
    std::atomic<int> sessionsEnded{0};
    options.onSessionEnd = [&sessionsEnded](const BoxSessionReport&) { ++sessionsEnded; };
    VirtualBox box(options);
    ASSERT_TRUE(box.Start());
    ScratchFolder folder;
    const FileIdentity identity =
        row.identity.manufactureIdent.empty() ? LabBoxIdentity() : row.identity;
    const std::string file = folder.Write(
        "key.dld",
        BuildUpgradeFile(UploadRegionList(Operation::kUploadKey), SampleFlashImage(23), identity));
    std::vector<std::string> args = {row.command, "--port", box.PtyPath()};
    const bool save = row.command == "verify --save";
    if (save) args = {"verify", "--port", box.PtyPath(), "--save", folder.File("copy.dld")};
    if (row.command.starts_with("verify")) args.push_back(file);
    if (row.command == "identify" && row.withFile) args.insert(args.end(), {"--file", file});
    ScratchFolder records;  // apart: nothing but the copy may appear beside the file
    const std::string record = records.File("line.jsonl");
    args.insert(args.end(), {"--record", record});
    const ChildResult run = RunCli(args);
    EXPECT_EQ(run.exitCode, row.exit) << run.err;
    const auto written = nlohmann::json::parse(ReadText(record), nullptr, false);
    EXPECT_EQ(written["failureKind"],
              row.failureKind ? nlohmann::json(row.failureKind) : nlohmann::json(nullptr));
    const std::vector<std::string> lines = Lines(run.out);
    ASSERT_GE(lines.size(), row.lines.size()) << run.out;
    EXPECT_EQ(std::vector(lines.end() - ptrdiff_t(row.lines.size()), lines.end()), row.lines)
        << run.out;
    // Nothing written: not into the box, not beside the file; with --save, what the box holds.
    // The box got every answer it was owed, the refusal of its header included: an identify
    // ends the exchange as the protocol lets a PC end it.
    EXPECT_EQ(box.Stats().downloadsDone, 0);
    if (row.faults.vanishAt == FaultStep::kNone) {
      for (int wait = 0; wait < 1000 && sessionsEnded == 0; ++wait) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      EXPECT_EQ(sessionsEnded, 1);
      EXPECT_EQ(box.Stats().answersMissing, 0);
    }
    if (!save) {
      EXPECT_EQ(FolderEntries(folder), std::vector<std::string>{"key.dld"});
      continue;
    }
    EXPECT_EQ(FolderEntries(folder), (std::vector<std::string>{"copy.dld", "key.dld"}));
    std::vector<uint8_t> held(kFlashSize, kErasedByte);
    ASSERT_TRUE(ExtractIntoImage(ReadBytes(folder.File("copy.dld")), held));
    EXPECT_EQ(RegionOfImage(held, 0x40180000, 0x10000),
              RegionOfImage(options.flash, 0x40180000, 0x10000));
  }
}

// The production line's two steps on one port: a download the box reports programmed, then a
// verify that finds the byte the flash did not keep, with both records.
TEST(CliReadBack, AVerifyAfterADownloadFindsTheByteTheFlashDidNotKeep) {
  BoxOptions options;
  options.faults.flipAfterProgram = 0x40184321;
  VirtualBox box(options);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string file = KeyFile(folder);
  const std::string record = folder.File("line.jsonl");
  const ChildResult download =
      RunCli({"download", "--port", box.PtyPath(), file, "--record", record});
  EXPECT_EQ(download.exitCode, 0) << download.err;
  const ChildResult verify = RunCli({"verify", "--port", box.PtyPath(), file, "--record", record});
  EXPECT_EQ(verify.exitCode, 1) << verify.err;
  ASSERT_FALSE(Lines(verify.out).empty());
  EXPECT_EQ(Lines(verify.out).back(), "Verify failed at 0x40184321!");
  // The same as events, and the identify a service bench would run: every object and record
  // is checked against the published schemas on the way.
  const ChildResult events =
      RunCli({"verify", "--port", box.PtyPath(), file, "--json", "--record", record});
  EXPECT_EQ(events.exitCode, 1) << events.err;
  EXPECT_NE(events.out.find("\"kind\":\"report\",\"phase\":\"transfer\",\"message\":null,"
                            "\"text\":\"0x40180000  65536  differs from 0x40184321 (1 byte "
                            "differs)\",\"part\":1,\"count\":1,\"region\":{\"address\":"
                            "1075314688,\"size\":65536,\"bytesDiffering\":1,\"firstDiffering\":"
                            "1075331873}"),
            std::string::npos)
      << events.out;
  const ChildResult identify =
      RunCli({"identify", "--port", box.PtyPath(), "--json", "--record", record});
  EXPECT_EQ(identify.exitCode, 0) << identify.err;
  const std::vector<std::string> records = Lines(ReadText(record));
  ASSERT_EQ(records.size(), 4u);
  EXPECT_NE(records[0].find("\"operation\":\"download\""), std::string::npos) << records[0];
  EXPECT_NE(records[1].find("\"operation\":\"verify\""), std::string::npos) << records[1];
  EXPECT_NE(records[1].find("\"failure\":\"Verify failed at 0x40184321!\","
                            "\"failureKind\":\"content-differs\""),
            std::string::npos)
      << records[1];
  EXPECT_NE(records[1].find("\"regionsChecked\":1,\"regionsDiffering\":1"), std::string::npos)
      << records[1];
  EXPECT_NE(records[0].find("\"regionsChecked\":null,\"regionsDiffering\":null"), std::string::npos)
      << records[0];
  EXPECT_NE(records[3].find("\"operation\":\"identify\",\"box\":1,\"file\":null"),
            std::string::npos)
      << records[3];
}

std::vector<std::string> FolderEntries(const ScratchFolder& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
    names.push_back(entry.path().filename());
    if (entry.is_symlink()) names.back() += " -> " + read_symlink(entry.path()).string();
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Bad input and files that cannot be read or written exit 2 in a line or two that name the trouble,
// before a box is asked anything and before a file is made.
TEST(CliRefusals, BadInputExitsTwoInAFewWordsBeforeTouchingABoxOrAFile) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::string port = box.PtyPath();
  const std::string key = KeyFile(folder);
  std::vector<uint8_t> corrupt = ReadBytes(key);
  corrupt[corrupt.size() - 1] ^= 0xFF;  // the data block's CRC
  const std::string corruptFile = folder.Write("corrupt.dld", corrupt);
  const std::string image = folder.Write("flash.bin", SampleFlashImage(31));
  const std::string missing = folder.File("missing.dld");
  const std::string noFolder = folder.File("no-folder/out");
  const std::string out = folder.File("out.dld");
  const std::string link = folder.File("backup.dld");  // dangling
  std::filesystem::create_symlink(folder.File("absent-target.dld"), link);
  const std::string keyLink = folder.File("key-link.jsonl");
  const std::string keyHardLink = folder.File("key-hard-link.jsonl");
  std::filesystem::create_symlink(key, keyLink);
  std::filesystem::create_hard_link(key, keyHardLink);
  const std::string into = "would be written into";
  // More regions than one read request can name: sound, but no verify can ask for them.
  std::vector<UploadRegion> regions;
  for (uint32_t i = 0; i < 128; ++i) regions.push_back({0, 0x40000000 + i * 0x100, 0x100});
  const std::string tooMany =
      folder.Write("many.dld", BuildUpgradeFile(regions, SampleFlashImage(32), LabBoxIdentity()));
  const struct {
    std::vector<std::string> args;
    std::string says;
  } rows[] = {
      {{"download", "--port", port, corruptFile}, "data block 1"},
      {{"download", "--port", port, missing}, "missing.dld"},
      {{"download", "--port", folder.File("no-such-port"), key}, "cannot open port"},
      {{"download", "--port", port}, "FILE is required"},
      {{"download", "--port", port, "--boxes", "-1", key}, "--boxes"},
      {{"upload", "--port", port, "--set", "key", ""}, "must not be empty"},
      {{"upload", "--port", port, "--set", "key", key}, "already exists; use --force"},
      // The check that FILE can be written runs first, and creates and deletes nothing.
      {{"upload", "--port", folder.File("no-such-port"), "--set", "key", link}, "cannot open port"},
      {{"upload", "--port", port, "--set", "bogus", out}, "bogus"},
      {{"upload", "--port", port, "--set", "key", folder.Path(), "--force"}, "is a folder"},
      // A record or a trace under the name of the file a run reads or writes, or another name of
      // it, would be appended to that file.
      {{"download", key, "--record", key, "--port", port}, into},
      {{"download", key, "--record", keyLink, "--port", port}, into},
      {{"download", key, "--record", keyHardLink, "--port", port}, into},
      {{"download", key, "--trace", key, "--port", port}, into},
      {{"download", key, "--trace", keyLink, "--port", port}, into},
      {{"upload", key, "--record", key, "--port", port, "--set", "key", "--force"}, into},
      {{"upload", key, "--record", keyHardLink, "--port", port, "--set", "key", "--force"}, into},
      {{"upload", key, "--record", key + ".partial", "--port", port, "--set", "key", "--force"},
       into},
      {{"upload", key, "--trace", key + ".partial", "--port", port, "--set", "key", "--force"},
       into},
      {{"verify", "--port", port, corruptFile}, "data block 1"},
      {{"verify", "--port", port, missing}, "missing.dld"},
      {{"verify", "--port", port, tooMany}, "one read request names at most 127"},
      {{"verify", "--port", port}, "FILE is required"},
      {{"verify", key, "--record", keyLink, "--port", port}, into},
      {{"verify", "--port", port, key, "--save", key}, "already exists"},
      {{"verify", "--port", port, key, "--save", folder.Path()}, "is a folder"},
      {{"verify", "--port", port, "--port", port, key, "--save", out}, "one --port, --boxes 1"},
      {{"verify", "--port", port, key, "--save", out, "--record", out}, into},
      {{"identify", "--port", port, "--file", corruptFile}, "data block 1"},
      {{"identify", "--port", port, "--file", missing}, "missing.dld"},
      {{"identify", "--port", folder.File("no-such-port")}, "cannot open port"},
      {{"inspect", missing}, "missing.dld"},
      {{"extract", missing, "--flash", image}, "missing.dld"},
      {{"extract", key, "--flash", noFolder}, "no-folder"},
      {{"pack", "--set", "key", "--flash", folder.File("missing.bin"), "-o", out}, "missing.bin"},
      {{"pack", "--set", "key", "--flash", image, "-o", noFolder}, "no-folder"},
      {{"pack", "--set", "everything", "--flash", image, "-o", out}, "everything"},
      {{"pack", "--set", "key", "--manufacture-ident", "SIXTEEN-CHARS-XX", "--flash", image, "-o",
        out},
       "SIXTEEN-CHARS-XX"},
      {{"pack", "--set", "key", "--software-version", "123456789", "--flash", image, "-o", out},
       "123456789"}};
  const std::vector<std::string> before = FolderEntries(folder);
  for (const auto& row : rows) {
    SCOPED_TRACE(
        std::accumulate(row.args.begin(), row.args.end(), std::string(),
                        [](const std::string& line, auto& word) { return line + " " + word; }));
    const ChildResult run = RunCli(row.args);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find(row.says), std::string::npos) << run.err;
    EXPECT_LE(Lines(run.err).size(), 2u) << run.err;
    EXPECT_EQ(FolderEntries(folder), before);
  }
  EXPECT_EQ(ReadBytes(image), SampleFlashImage(31));
  EXPECT_EQ(ReadBytes(key), SampleUpgradeFile(Operation::kUploadKey, 21));
  EXPECT_EQ(box.Stats().sessionsStarted, 0);
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

// A line stopped after boxes that all failed says how many it served, the failed ones with them.
TEST(CliSignals, AStoppedLineCountsTheBoxesItServed) {
  BoxOptions refusing;
  refusing.faults.refuseIdentity = true;
  VirtualBox box(refusing);
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  ChildOptions options;
  int waits = 0;
  options.onLine = [&waits](const std::string& text, int pid) {
    if (text == "Connectting..." && ++waits == 3) kill(pid, SIGINT);
  };
  const ChildResult run =
      RunCli({"download", "--port", box.PtyPath(), "--boxes", "0", "--keep-going", KeyFile(folder)},
             options);
  EXPECT_NE(run.err.find("stopped after 2 boxes served: 0 done, 2 failed"), std::string::npos)
      << run.err;
}

TEST(CliSignals, InterruptOrTerminateStopsTheWaitWithoutSuccess) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    PtyLine line;  // a port with nobody on the other end: the tool waits until told to stop
    Failure failure;
    ASSERT_TRUE(line.Open(failure)) << FailureText(failure);
    ScratchFolder folder;
    ChildOptions options;
    options.timeout = std::chrono::seconds(20);
    options.onLine = [signal](const std::string& text, int pid) {
      if (text == "Connectting...") kill(pid, signal);
    };
    const ChildResult run =
        RunCli({"download", "--port", line.SlavePath(), "--boxes", "0", KeyFile(folder)}, options);
    EXPECT_FALSE(run.timedOut);
    EXPECT_NE(run.exitCode, 0);
    EXPECT_EQ(run.out.find("Update Success!"), std::string::npos);
  }
}

}  // namespace
}  // namespace vn::testing

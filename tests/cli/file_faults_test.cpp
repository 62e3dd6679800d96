// vespanode-cli against files and folders that are not what they should be: every refusal says
// why, nothing the user had is destroyed, and a full disk is named as such.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "dld/pack.h"
#include "dld/region_sets.h"
#include "dld/upgrade_file_check.h"
#include "platform/file_digest.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"
#include "support/small_disk.h"

namespace vn::testing {
namespace {

TEST(CliUploadFiles, AnUnwritableFolderIsRefusedWithItsReason) {
  ScratchFolder folder;
  const std::string locked = folder.File("locked");
  std::filesystem::create_directory(locked);
  // Root may write anywhere on a writable disk: it needs a read-only one.
  SmallDisk readOnly(locked, 64, true);
  if (!readOnly.Mounted()) {
    if (::geteuid() == 0) GTEST_SKIP() << "root without the right to mount writes anywhere";
    ::chmod(locked.c_str(), 0555);
  }

  const ChildResult run =
      RunCli({"upload", "--port", folder.File("no-port"), "--set", "key", locked + "/key.dld"});

  EXPECT_EQ(run.exitCode, 2);
  const char* reason = readOnly.Mounted() ? "Read-only file system" : "Permission denied";
  EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
  ::chmod(locked.c_str(), 0755);
}

// FILE or FILE.partial changed by another program while the box sends: the backup never lands on
// a file that appeared at FILE (no --force was given), never moves a device put in the partial
// file's place over FILE, and the messages name the partial file that holds the data.
TEST(CliUploadFiles, AFileChangedDuringTheUploadIsNeverReplacedOrWrittenThrough) {
  namespace fs = std::filesystem;
  const std::vector<uint8_t> planted{'m', 'i', 'n', 'e'};
  struct Row {
    const char* what;
    std::function<void(ScratchFolder& folder, const std::string& file)> change;
    bool rootOnly;
  };
  const Row rows[] = {
      {"FILE turns into a link",
       [](ScratchFolder& folder, const std::string& file) {
         fs::create_directory(folder.File("elsewhere"));
         fs::create_symlink(folder.File("elsewhere/default.dld"), file);
       },
       false},
      {"a file appears at FILE",
       [&](ScratchFolder&, const std::string& file) { WriteBytes(file, planted); }, false},
      {"a device takes FILE.partial's place",
       [](ScratchFolder&, const std::string& file) {
         const std::string partial = file + ".partial";
         struct stat null;
         ASSERT_EQ(::stat("/dev/null", &null), 0);
         fs::rename(partial, file + ".moved");
         ASSERT_EQ(::mknod(partial.c_str(), S_IFCHR | 0666, null.st_rdev), 0);
       },
       true}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    if (row.rootOnly && ::geteuid() != 0) continue;
    // Paced at the line's rate: the transfer still runs when the change lands.
    BoxOptions paced;
    paced.flash = SampleFlashImage(46);
    paced.pace = true;
    VirtualBox box(paced);
    ASSERT_TRUE(box.Start());
    ScratchFolder folder;
    const std::string file = folder.File("default.dld");
    bool changed = false;
    ChildOptions options;
    options.onLine = [&](const std::string& line, int) {
      const auto event = nlohmann::json::parse(line, nullptr, false);
      if (!changed && event.value("text", "") == "Transfer...") {
        changed = true;
        row.change(folder, file);
      }
    };
    const ChildResult run =
        RunCli({"upload", "--port", box.PtyPath(), "--set", "default", file, "--json"}, options);
    ASSERT_TRUE(changed);
    EXPECT_EQ(run.exitCode, 1) << run.err;
    const std::string said = run.out + run.err;
    EXPECT_EQ(said.find("Update Success!"), std::string::npos) << said;
    if (row.rootOnly) {
      EXPECT_FALSE(fs::is_character_file(fs::symlink_status(file))) << "the device was moved";
      EXPECT_NE(said.find(file + ".partial was removed or replaced"), std::string::npos) << said;
      continue;
    }
    EXPECT_NE(said.find("the backup is in " + file + ".partial"), std::string::npos) << said;
    EXPECT_TRUE(PassesForABackup(ReadBytes(file + ".partial")));
    if (fs::is_symlink(fs::symlink_status(file))) {
      EXPECT_FALSE(fs::exists(folder.File("elsewhere/default.dld")));
    } else {
      EXPECT_EQ(ReadBytes(file), planted);
    }
  }
}

// Empty, truncated, corrupt and oversized files, and a header without regions, never reach a box,
// and inspect calls every one of them unsound.
TEST(CliDownloadFiles, UnsoundFilesAreRefused) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ScratchFolder folder;
  const std::vector<uint8_t> sound = SampleUpgradeFile(Operation::kUploadDefault, 43);
  std::vector<uint8_t> corruptHeader = sound;
  corruptHeader[10] ^= 0x01;
  const std::vector<uint8_t> truncated(sound.begin(), sound.begin() + sound.size() / 2);
  // One byte more than a header can state as the file's size: never read beyond that.
  const std::vector<uint8_t> oversized(kMaxUpgradeFileSize + 1, 0x11);
  std::vector<uint8_t> headerOnly(sound.begin(), sound.begin() + kHeaderSize);
  headerOnly[52] = 0;  // no regions
  StampTotalSize(headerOnly);
  for (const auto& bytes :
       {std::vector<uint8_t>{}, truncated, corruptHeader, oversized, headerOnly}) {
    const std::string file = folder.Write("unsound.dld", bytes);
    const ChildResult run = RunCli({"download", "--port", box.PtyPath(), file});
    EXPECT_EQ(run.exitCode, 2) << bytes.size();
    EXPECT_NE(run.err.find("is not a sound upgrade file"), std::string::npos) << run.err;
    EXPECT_EQ(RunCli({"inspect", file}).exitCode, 1) << bytes.size();
  }
  EXPECT_EQ(box.Stats().sessionsStarted, 0);
}

// The file rewritten in place, or another renamed over it, between the two boxes of a run: the
// second box gets the first file too, and both records carry the digest of what was sent.
TEST(CliDownloadFiles, AFileReplacedBetweenTwoBoxesNeverReachesTheSecond) {
  const auto regions = UploadRegionList(Operation::kUploadKey);
  const std::vector<uint8_t> image = SampleFlashImage(44);
  const std::vector<uint8_t> first = BuildUpgradeFile(regions, image, LabBoxIdentity());
  const std::vector<uint8_t> second = SampleUpgradeFile(Operation::kUploadKey, 45);
  for (const bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "rewritten in place" : "renamed over");
    ScratchFolder folder;
    std::string firstSha256;
    Failure failure;
    ASSERT_TRUE(FileSha256(folder.Write("first.dld", first), firstSha256, failure))
        << FailureText(failure);
    const std::string file = folder.Write("line.dld", first);
    BoxOptions options;
    int sessionsEnded = 0;  // on the box's thread
    options.onSessionEnd = [&](const BoxSessionReport&) {
      if (++sessionsEnded > 1) return;
      if (inPlace) {
        folder.Write("line.dld", second);
      } else {
        std::filesystem::rename(folder.Write("second.dld", second), file);
      }
    };
    VirtualBox box(options);
    ASSERT_TRUE(box.Start());
    const std::string record = folder.File("records.jsonl");
    const ChildResult run =
        RunCli({"download", "--port", box.PtyPath(), "--boxes", "2", "--record", record, file});
    EXPECT_EQ(run.exitCode, 0) << run.err;
    ASSERT_TRUE(box.WaitSessions(2, std::chrono::seconds(10)));
    EXPECT_EQ(ReadBytes(file), second);
    EXPECT_EQ(RegionOfImage(box.FlashCopy(), regions[0].address, regions[0].size),
              RegionOfImage(image, regions[0].address, regions[0].size));
    const std::vector<std::string> records = Lines(ReadText(record));
    for (const std::string& line : records) {
      EXPECT_EQ(nlohmann::json::parse(line).value("sha256", ""), firstSha256) << line;
    }
    EXPECT_EQ(records.size(), 2u);
  }
}

}  // namespace
}  // namespace vn::testing

// vespanode-cli inspect, pack and extract on files: exit codes and what the messages name; and
// ports: the COM names, and a running virtual box, in text and in JSON.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "dld/region_sets.h"
#include "link/box_announce.h"
#include "platform/processes.h"
#include "platform/text_format.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

class CliFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    image_ = SampleFlashImage(31);
    imagePath_ = folder_.Write("flash.bin", image_);
  }

  // Packs the loader set (small, four regions) and returns the file's path.
  std::string PackLoader(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {
        "pack", "--set", "loader", "--flash", imagePath_, "-o", folder_.File("loader.dld")};
    args.insert(args.end(), extra.begin(), extra.end());
    const ChildResult run = RunCli(args);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    return folder_.File("loader.dld");
  }

  ScratchFolder folder_;
  std::vector<uint8_t> image_;
  std::string imagePath_;
};

TEST_F(CliFiles, PackInspectExtractRoundTrip) {
  const std::string file =
      PackLoader({"--manufacture-ident", "MAKER", "--software-version", "3.1"});

  ChildResult run = RunCli({"inspect", file});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("MAKER"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("0x40008000"), std::string::npos) << run.out;
  EXPECT_EQ(run.err, "");

  const std::string restored = folder_.File("restored.bin");
  run = RunCli({"extract", file, "--flash", restored});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<uint8_t> bytes = ReadBytes(restored);
  ASSERT_EQ(bytes.size(), kFlashSize);
  EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 0x10000, image_.begin()));
  EXPECT_TRUE(
      std::all_of(bytes.begin() + 0x10000, bytes.end(), [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(CliFiles, UnsoundFileNamesBlockAndOffset) {
  std::vector<uint8_t> file = ReadBytes(PackLoader());
  const std::string path = folder_.File("damaged.dld");
  // The second descriptor follows the header, the first descriptor and its data block.
  const size_t r1 = file[71 + 14] | file[71 + 15] << 8 | file[71 + 16] << 16;
  const size_t secondDescriptor = 71 + 26 + r1 + 8;
  file[secondDescriptor + 23] ^= 0x01;
  folder_.Write("damaged.dld", file);

  ChildResult run = RunCli({"inspect", path});
  EXPECT_EQ(run.exitCode, 1);
  const std::string named = "descriptor 2 at offset " + std::to_string(secondDescriptor);
  EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
  EXPECT_NE(run.out.find(named), std::string::npos) << run.out;

  run = RunCli({"inspect", "--json", path});
  EXPECT_EQ(run.exitCode, 1);
  const auto report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out;
  EXPECT_EQ(report["faults"][0]["block"], "descriptor 2") << run.out;
  EXPECT_EQ(report["faults"][0]["offset"], secondDescriptor) << run.out;

  // A file that cannot be read at all (a folder, a missing file) still gets its object, which
  // says why; the child runner checks it against the schema.
  for (const std::string& unreadable : {folder_.Path(), folder_.File("missing.dld")}) {
    run = RunCli({"inspect", "--json", unreadable});
    EXPECT_EQ(run.exitCode, 2);
    const auto failed = nlohmann::json::parse(run.out, nullptr, false);
    ASSERT_TRUE(failed.is_object()) << run.out;
    EXPECT_EQ(failed["sound"], false) << run.out;
    EXPECT_FALSE(failed.value("failure", "").empty()) << run.out;
  }

  const std::string image = folder_.File("untouched.bin");
  run = RunCli({"extract", path, "--flash", image});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find(named), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(image));
}

// The header's texts as given, quotes, escapes and UTF-8 too, up to their last byte (fifteen and
// eight), and the mark that --nocheck sets.
TEST_F(CliFiles, JsonKeepsHeaderTexts) {
  const std::string file = PackLoader({"--manufacture-ident", "A\"B\\C\tD12345678",
                                       "--hardware-module", "K\u00FCche12", "--nocheck"});
  const ChildResult run = RunCli({"inspect", file, "--json"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const auto report = nlohmann::json::parse(run.out, nullptr, false);
  ASSERT_FALSE(report.is_discarded()) << run.out;
  EXPECT_EQ(run.out.front(), '{');
  EXPECT_EQ(report["header"]["manufactureIdent"], "A\"B\\C\tD12345678");
  EXPECT_EQ(report["header"]["hardwareModule"], "K\u00FCche12");
  EXPECT_EQ(report["header"]["identForNocheck"], 1);
  EXPECT_EQ(report["header"]["partitionCount"], 4);
  EXPECT_EQ(report["sound"], true);

  // A Latin-1 file name: U+FFFD in `file`, the exact bytes beside it.
  const std::string latin1 = folder_.File("k\xFC.dld");
  std::filesystem::rename(file, latin1);
  const auto named = nlohmann::json::parse(RunCli({"inspect", latin1, "--json"}).out);
  EXPECT_EQ(named["file"], folder_.File("k\uFFFD.dld"));
  const std::string exact = named.value("fileBytes", "");
  EXPECT_TRUE(exact.ends_with("2f6bfc2e646c64")) << exact;  // "/k\xFC.dld"
}

TEST(CliPorts, ListsComNamesAndTheRunningVirtualBox) {
  ScratchFolder runtime;
  const RuntimeFolderAt announcedThere(runtime.Path());
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ASSERT_TRUE(AnnounceBox(box.PtyPath()));
  // A device whose name is not UTF-8, announced for a live process (this test's parent).
  const std::string odd = runtime.Path() + "/pts-\xFF\xFE";
  std::ofstream(odd) << "";
  std::ofstream(PrivateRuntimeFolder() + "/box-" + std::to_string(getppid())) << odd << "\n";
  const std::string oddHex = HexBytes(odd);

  const ChildResult json = RunCli({"ports", "--json"});
  const ChildResult text = RunCli({"ports"});
  WithdrawBox();

  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto survey = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_FALSE(survey.is_discarded()) << json.out;
  ASSERT_EQ(survey["comNames"].size(), 10u);
  EXPECT_EQ(survey["comNames"][2]["name"], "COM3");
  EXPECT_EQ(survey["comNames"][2]["windowName"], "COM.03");
  EXPECT_EQ(survey["comNames"][2]["device"], "/dev/ttyS2");
  EXPECT_TRUE(survey["comNames"][2]["exists"].is_boolean());
  EXPECT_TRUE(survey["usbAdapters"].is_array());
  ASSERT_EQ(survey["virtualBoxes"].size(), 2u);
  const bool boxFirst = box.PtyPath() < odd;
  const auto& real = survey["virtualBoxes"][boxFirst ? 0 : 1];
  const auto& foreign = survey["virtualBoxes"][boxFirst ? 1 : 0];
  EXPECT_EQ(real["device"], box.PtyPath());
  EXPECT_FALSE(real.contains("deviceBytes"));
  // The name shows with U+FFFD, and exactly in its bytes beside it.
  EXPECT_EQ(foreign["device"], runtime.Path() + "/pts-\uFFFD\uFFFD");
  EXPECT_EQ(foreign["deviceBytes"], oddHex);

  ASSERT_EQ(text.exitCode, 0) << text.err;
  const std::string boxes = text.out.substr(text.out.find("Virtual boxes:"));
  EXPECT_NE(boxes.find(box.PtyPath()), std::string::npos) << text.out;
}

}  // namespace
}  // namespace vn::testing

// The form against the virtual box over a pseudo-terminal: a download that goes on with the next
// box by itself, uploads that succeed or fail, and a Reset in the middle of a transfer; and what a
// real port and a real file system can do to the choices.
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "dld/extract.h"
#include "dld/pack.h"
#include "form_rig.h"
#include "link/box_announce.h"
#include "link/system_port.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"
#include "support/scratch_folder.h"

namespace vn {
namespace {

constexpr Operation kKeySet = Operation::kUploadKey;  // one 64 KiB region, quick to move

std::vector<uint8_t> KeyRegionOf(const std::vector<uint8_t>& image) {
  const UploadRegion region = UploadRegionList(kKeySet)[0];
  return RegionOfImage(image, region.address, region.size);
}

class FormBoxRunsTest : public ::testing::Test {
 protected:
  FormBoxRunsTest() : rig_(MakeSystemComPort(), folder_.Path(), CurrentPortEntries) {}
  ~FormBoxRunsTest() override {
    rig_.model.reset();  // stops and joins a running operation before the box goes
    WithdrawBox();
  }

  // Announced as vespanode-box announces itself, the box shows up when the list is opened.
  void StartBox(BoxOptions options) {
    box_ = std::make_unique<VirtualBox>(std::move(options));
    ASSERT_TRUE(box_->Start()) << box_->Stats().lastError;
    ASSERT_TRUE(AnnounceBox(box_->PtyPath()));
    rig_.model->RefreshPorts();
    const auto& ports = rig_.State().ports;
    const auto entry = std::find_if(ports.begin(), ports.end(), [this](const PortEntry& port) {
      return port.name == box_->PtyPath();
    });
    ASSERT_TRUE(entry - ports.begin() >= kFixedPortCount);
    rig_.model->ChoosePort(int(entry - ports.begin()));
    ASSERT_TRUE(rig_.State().portOpen);
  }

  // Downloads the key regions of `image_` into a box, paced at the line's rate or not.
  void StartDownload(bool paced = false) {
    BoxOptions options;
    options.pace = paced;
    StartBox(std::move(options));
    view_.downloadAnswer = folder_.Write("key.dld", testing::SampleUpgradeFile(kKeySet, 7));
    rig_.model->Open();
    rig_.model->Start();
  }

  testing::ScratchFolder folder_;
  testing::FormRig rig_;
  testing::ScriptedView& view_ = rig_.view;
  std::unique_ptr<VirtualBox> box_;
  std::vector<uint8_t> image_ = testing::SampleFlashImage(7);  // what SampleUpgradeFile(_, 7) holds
};

TEST_F(FormBoxRunsTest, DownloadSucceedsAndWaitsForTheNextBox) {
  StartDownload();
  // Without a click, the form waits for the next box with the same file.
  ASSERT_TRUE(view_.PumpUntil([this] {
    const auto texts = view_.Statuses();
    const auto success = std::find(texts.begin(), texts.end(), "Update Success!");
    return success != texts.end() &&
           std::find(success, texts.end(), "Connectting...") != texts.end();
  }));
  EXPECT_TRUE(rig_.model->Running());
  const auto atSuccess = std::find_if(view_.shown.begin(), view_.shown.end(), [](auto& state) {
    return state.status == "Update Success!";
  });
  EXPECT_TRUE(atSuccess->choicesEnabled);
  EXPECT_EQ(atSuccess->tone, StatusTone::kSuccess);
  EXPECT_TRUE(KeyRegionOf(box_->FlashCopy()) == KeyRegionOf(image_));
  EXPECT_TRUE(view_.boxes.empty());
}

// Uploads that end by themselves: a new file, a covered file whose box goes away mid-upload (the
// old file stays, and the tooltip says where the part that arrived went), and a name that is a
// folder (the system's reason comes before the failure text: the tooltip keeps both).
TEST_F(FormBoxRunsTest, UploadsEndWithTheirOwnStatus) {
  const std::vector<uint8_t> old = {0x11, 0x44, 0x00, 'o', 'l', 'd'};
  const struct {
    std::string file;  // covered.dld exists, folder.dld is a folder
    int questions;
    const char* status;
    std::string tipEnd;  // of the status line's tooltip, after the status text
    std::string tipWhy;  // the box's outcome in the system's words, first after the status text
  } rows[] = {{"backup.dld", 0, "Update Success!", "", ""},
              {"covered.dld", 1, "Transfer failed!", ".partial", "the port went away: "},
              {"folder.dld", 1, "Can not open Upload file!", "is a folder, not a file",
               "folder.dld is a folder"}};
  for (const auto& row : rows) {
    const std::string& file = row.file;
    SCOPED_TRACE(file);
    BoxOptions options;
    options.flash = image_;
    if (file == "covered.dld") {
      options.faults.vanishAt = FaultStep::kFrame;
      folder_.Write(file, old);
    }
    if (file == "folder.dld") std::filesystem::create_directory(folder_.File(file));
    StartBox(options);
    rig_.model->ChooseOperation(PositionOf(kKeySet));
    view_.uploadAnswer = folder_.File(file);
    view_.overwriteAnswer = true;
    view_.overwriteQuestions = 0;
    view_.shown.clear();
    rig_.model->Open();
    rig_.model->Start();
    EXPECT_EQ(view_.overwriteQuestions, row.questions);
    ASSERT_TRUE(view_.PumpUntil([this] { return !rig_.model->Running(); }));
    const FormState& state = rig_.State();
    EXPECT_EQ(state.status, row.status);
    EXPECT_TRUE(state.choicesEnabled);
    EXPECT_EQ(state.statusToolTip.rfind(state.status + "\n", 0),
              row.tipEnd.empty() ? std::string::npos : 0u)
        << state.statusToolTip;
    EXPECT_TRUE(state.statusToolTip.ends_with(row.tipEnd)) << state.statusToolTip;
    if (!row.tipWhy.empty()) {
      const std::string tip = state.statusToolTip;
      const size_t second = tip.find('\n') + 1;
      EXPECT_NE(tip.substr(second, tip.find('\n', second) - second).find(row.tipWhy),
                std::string::npos)
          << tip;
    }
    if (row.questions == 0) {
      const auto texts = view_.Statuses();
      EXPECT_EQ(std::count(texts.begin(), texts.end(), "Connectting..."), 1);
      EXPECT_EQ(state.tone, StatusTone::kSuccess);
      std::vector<uint8_t> restored(kFlashSize, 0xFF);
      Failure why;
      ASSERT_TRUE(ExtractIntoImage(testing::ReadBytes(*view_.uploadAnswer), restored, &why))
          << FailureText(why);
      EXPECT_TRUE(KeyRegionOf(restored) == KeyRegionOf(image_));
    } else if (file == "covered.dld") {
      EXPECT_TRUE(testing::ReadBytes(*view_.uploadAnswer) == old);
      EXPECT_TRUE(state.statusToolTip.ends_with(*view_.uploadAnswer + ".partial"));
    }
    // Reset leaves nothing of that run behind, not even in the status line's tooltip.
    rig_.model->Reset();
    rig_.ExpectAsStarted();
    box_.reset();
  }
}

TEST_F(FormBoxRunsTest, ResetDuringTransferStopsIt) {
  StartDownload(true);  // at the line's real speed: the transfer lasts long enough to stop
  ASSERT_TRUE(
      view_.PumpUntil([this] { return rig_.State().status.rfind("Transfering Data", 0) == 0; }));
  EXPECT_FALSE(rig_.State().choicesEnabled);
  // Let reports pile up unread, as behind a slow screen, before the Reset.
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  rig_.model->Reset();
  EXPECT_FALSE(rig_.model->Running());
  const size_t shownBeforeReset = view_.shown.size();
  view_.Pump();
  EXPECT_EQ(view_.shown.size(), shownBeforeReset);  // nothing of the stopped run came late
  for (const FormState& shown : view_.shown) EXPECT_NE(shown.status, "Update Success!");
  rig_.ExpectAsStarted();
}

// What the system refuses: a port that cannot be opened leaves the lamp red, says why, and leaves
// the status alone; a FIFO the file dialog let through is refused without waiting for a writer.
TEST_F(FormBoxRunsTest, WhatTheSystemRefuses) {
  rig_.model->ChoosePort(rig_.model->EnsurePort("/dev/vespanode-no-such-port"));
  EXPECT_FALSE(rig_.State().portOpen);
  EXPECT_EQ(rig_.State().lampToolTip.rfind("no such device", 0), 0u) << rig_.State().lampToolTip;
  rig_.model->Start();
  EXPECT_TRUE(rig_.State().status.empty());
  EXPECT_FALSE(rig_.model->Running());

  const std::string fifo = folder_.File("pipe.dld");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  view_.downloadAnswer = fifo;
  rig_.model->Open();
  EXPECT_TRUE(rig_.State().status.ends_with("is a FIFO, not an upgrade file"))
      << rig_.State().status;
}

}  // namespace
}  // namespace vn

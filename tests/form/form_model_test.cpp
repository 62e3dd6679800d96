// The form without a box that answers: start-up state and fixed texts, the operation choice,
// Start's refusals, the file choice rules, and stopping a wait for a box with every command that
// stops one.
#include <filesystem>

#include "dld/pack.h"
#include "dld/region_sets.h"
#include "form/form_texts.h"
#include "form/program_identity.h"
#include "form_rig.h"
#include "link/link_message.h"
#include "link/status_texts.h"
#include "support/scratch_folder.h"

namespace vn {
namespace {

using testing::FormRig;
using testing::FormWithSilentBox;

class FormModelTest : public ::testing::Test {
 protected:
  FormModelTest() : silent_(folder_.Path()), rig_(*silent_.rig), view_(rig_.view) {}

  std::string DownloadFile(const std::string& name = "some.dld") {
    return folder_.Write(name, std::vector<uint8_t>(200, 0x01));
  }

  // A sound "Upload Key" file; `damage` flips one byte at that offset first (negative: none).
  std::string KeyFile(const std::string& name, int damage = -1) {
    const std::vector<uint8_t> image(0x200000, 0x5A);
    auto file = PackUpgradeFile(RegionSetOf(Operation::kUploadKey), image, FileIdentity{});
    EXPECT_TRUE(file);
    if (damage >= 0) (*file)[size_t(damage)] ^= 0xFF;
    return folder_.Write(name, *file);
  }

  bool ShowsConnecting() {
    return view_.PumpUntil([this] { return rig_.State().status == "Connectting..."; });
  }

  // Start a download that waits for a box that never comes.
  void StartWaiting() {
    view_.downloadAnswer = DownloadFile();
    rig_.model->Open();
    rig_.model->Start();
    ASSERT_TRUE(rig_.model->Running());
    ASSERT_TRUE(ShowsConnecting());
  }

  testing::ScratchFolder folder_;
  FormWithSilentBox silent_;
  FormRig& rig_;
  testing::ScriptedView& view_;
};

TEST_F(FormModelTest, StartsWithTheFixedChoicesAndTexts) {
  const FormState& state = rig_.State();
  std::vector<std::string> ports;
  for (const PortEntry& entry : state.ports) ports.push_back(entry.text);
  EXPECT_EQ(ports, (std::vector<std::string>{"COM.01", "COM.02", "COM.03", "COM.04", "COM.05",
                                             "COM.06", "COM.07", "COM.08", "COM.09", "COM.10"}));
  EXPECT_EQ(state.portIndex, 0);
  EXPECT_EQ(OperationNames(),
            (std::vector<std::string>{"Download", "Upload Data", "Upload Default", "Upload Key",
                                      "Upload Loader", "Upload App", "Upload ALL"}));
  EXPECT_EQ(state.operationIndex, 0);
  EXPECT_EQ(state.openCaption, "Open");
  EXPECT_FALSE(state.openSaves);
  EXPECT_FALSE(state.portOpen);
  EXPECT_EQ(LampColour(state.portOpen), (Rgb{0xFF, 0, 0}));
  EXPECT_EQ(LampColour(true), (Rgb{0, 0xFF, 0}));
  EXPECT_TRUE(state.fileName.empty());
  EXPECT_TRUE(state.status.empty());
  EXPECT_EQ(state.progress, 0);
  EXPECT_TRUE(state.choicesEnabled);
  EXPECT_STREQ(kWindowCaption, "Vespanode 3.1.05");
  EXPECT_STREQ(kApplicationTitle, "[Vespanode 3.1.05]");
  EXPECT_EQ(kHandOverMessage, 0x1400u);

  // The About window's change list, exactly as it has always read.
  EXPECT_EQ(ModificationLines(),
            (std::vector<std::string>{
                "     Data                                Modification ",
                "",
                " 2005.10.18 :   Win API.",
                " 2005.11.02 :   Upgrade data partition number 7 to 8.",
                " 2005.12.20 :   Add function of upgrade SatcoDX.",
                " 2006.03.06 :   Download Header(iTotalSize) is *.dld size.",
                " 2006.03.07 :   Size of loader(128K) to loader(64K).",
                " 2006.03.10 :   Modified upgrade property.",
                " 2006.08.08 :   Modified \"Ident for nocheck\" Bug.",
                " 2006.11.20 :   Modified version number to 3.1.00.",
                " 2006.11.21 :   Modified ident check in 3.1.01.",
                " 2006.11.27 :   Modified download header error control in 3.1.02.",
                " 2006.12.26 :   Modified ident check, not write it to file. In version 3.1.03",
                " 2006.12.26 :   Modified com set. In version 3.1.04",
                " 2006.12.26 :   Modified syspath setting. In version 3.1.05",
            }));
}

TEST_F(FormModelTest, OperationChoiceSwitchesOpenAndSaveAndClears) {
  view_.downloadAnswer = KeyFile("damaged.dld", kHeaderSize + 4);
  rig_.model->Open();
  ASSERT_FALSE(rig_.State().status.empty());
  const struct {
    int index;
    const char* caption;
  } rows[] = {{1, "Save"}, {6, "Save"}, {0, "Open"}};
  for (const auto& row : rows) {
    rig_.model->ChooseOperation(row.index);
    EXPECT_EQ(rig_.State().openCaption, row.caption) << row.index;
    EXPECT_EQ(rig_.State().openSaves, row.index != 0);
    EXPECT_TRUE(rig_.State().fileName.empty());
    EXPECT_TRUE(rig_.State().status.empty());
    EXPECT_TRUE(rig_.State().statusToolTip.empty());
    EXPECT_EQ(rig_.State().progress, 0);
    rig_.ExpectShownUpToDate();
  }
}

// Start without a file: the refusal reads as a failure, the port was opened, nothing runs.
TEST_F(FormModelTest, StartWithoutAFileIsRefused) {
  const struct {
    int operation;
    const char* status;
  } rows[] = {{0, kNoDownloadFileText}, {3, kNoUploadFileText}};
  for (const auto& row : rows) {
    rig_.model->ChooseOperation(row.operation);
    rig_.model->Start();
    EXPECT_EQ(rig_.State().status, row.status);
    EXPECT_EQ(rig_.State().tone, StatusTone::kFailure);
    EXPECT_TRUE(rig_.State().portOpen);
    EXPECT_FALSE(rig_.model->Running());
    rig_.ExpectShownUpToDate();
  }
}

// What is on disk at Start is what would be sent: a file that no longer holds the header shown
// since Open is refused, with the reason beside the status, and nothing is sent.
TEST_F(FormModelTest, StartWithAChangedDownloadFile) {
  const struct {
    const char* change;
    bool starts;
    const char* reason;
  } rows[] = {
      {"remove", false, ""},
      {"rewrite", false, "has changed since it was opened"},
      {"rename", false, "has changed since it was opened"},
      // One file, whole: the box judges its partitions.
      {"tail", true, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.change);
    rig_.model->Reset();
    const std::string file = DownloadFile();
    view_.downloadAnswer = file;
    rig_.model->Open();
    EXPECT_EQ(rig_.State().fileName, file);
    std::vector<uint8_t> other(200, 0x02);
    const std::string change = row.change;
    if (change == "remove") {
      std::filesystem::remove(file);
    } else if (change == "rewrite") {
      testing::WriteBytes(file, other);
    } else if (change == "rename") {
      std::filesystem::rename(folder_.Write("other.dld", other), file);
    } else {
      std::fill_n(other.begin(), kHeaderSize, 0x01);
      testing::WriteBytes(file, other);
    }
    rig_.model->Start();
    EXPECT_EQ(rig_.model->Running(), row.starts);
    if (row.starts) {
      EXPECT_TRUE(ShowsConnecting());
      continue;
    }
    EXPECT_EQ(rig_.State().status, kMissingDownloadFileText);
    const std::string reason = row.reason;
    EXPECT_TRUE(reason.empty() ||
                rig_.State().statusToolTip.find(file + " " + reason) != std::string::npos)
        << rig_.State().statusToolTip;
    // Start again: still the file changed, never the new one sent instead.
    rig_.model->Start();
    EXPECT_FALSE(rig_.model->Running());
  }
}

TEST_F(FormModelTest, ChosenFileIsCheckedButNotRefused) {
  view_.downloadAnswer = KeyFile("sound.dld");
  rig_.model->Open();
  EXPECT_EQ(rig_.State().fileName, *view_.downloadAnswer);
  EXPECT_TRUE(rig_.State().status.empty());

  // The first descriptor's flash address: its CRC no longer matches.
  view_.downloadAnswer = KeyFile("damaged.dld", kHeaderSize + 4);
  rig_.model->Open();
  EXPECT_EQ(rig_.State().fileName, *view_.downloadAnswer);
  EXPECT_EQ(rig_.State().status.rfind("Unsound file: descriptor 1 at offset 71", 0), 0u)
      << rig_.State().status;
  EXPECT_EQ(rig_.State().tone, StatusTone::kFailure);

  // Start is not refused: the box has the last word.
  rig_.model->Start();
  EXPECT_TRUE(rig_.model->Running());
  EXPECT_TRUE(ShowsConnecting());
  EXPECT_EQ(rig_.State().tone, StatusTone::kNeutral);

  // A cancelled Open leaves everything cleared.
  view_.downloadAnswer.reset();
  rig_.model->Open();
  EXPECT_TRUE(rig_.State().fileName.empty());
  EXPECT_TRUE(rig_.State().status.empty());
  rig_.ExpectShownUpToDate();
}

// Start asks before covering an existing upload file: Cancel forgets the name and touches
// nothing, Yes starts.
TEST_F(FormModelTest, ExistingUploadFileIsCoveredOnlyWhenConfirmed) {
  for (const bool yes : {false, true}) {
    SCOPED_TRACE(yes);
    rig_.model->ChooseOperation(yes ? 3 : 1);
    view_.uploadAnswer = DownloadFile(yes ? "yes.dld" : "cancel.dld");
    view_.overwriteAnswer = yes;
    view_.overwriteQuestions = 0;
    rig_.model->Open();
    EXPECT_EQ(rig_.State().fileName, *view_.uploadAnswer);
    const std::string before = rig_.State().status;
    rig_.model->Start();
    EXPECT_EQ(view_.overwriteQuestions, 1);
    EXPECT_EQ(rig_.model->Running(), yes);
    if (yes) {
      EXPECT_TRUE(ShowsConnecting());
      continue;
    }
    EXPECT_TRUE(rig_.State().fileName.empty());
    EXPECT_EQ(rig_.State().status, before);
    rig_.model->Start();
    EXPECT_EQ(rig_.State().status, kNoUploadFileText);
    EXPECT_EQ(view_.overwriteQuestions, 1);
    EXPECT_EQ(std::filesystem::file_size(*view_.uploadAnswer), 200u);
  }
}

// Every command that stops a wait for a box: afterwards nothing of the stopped run shows up.
TEST_F(FormModelTest, CommandsWhileWaitingStopTheWait) {
  const struct {
    const char* name;
    std::function<void(FormModel&)> act;
    bool runs;      // a new wait is going afterwards
    bool portOpen;  // the lamp afterwards
    int processEnds;
    const char* status;  // after the stopped run's reports had their chance
  } rows[] = {
      {"Reset", [](FormModel& form) { form.Reset(); }, false, false, 0, ""},
      {"Close", [](FormModel& form) { form.Close(); }, false, false, 1, "Connectting..."},
      {"Open", [](FormModel& form) { form.Open(); }, false, true, 0, ""},
      {"second Start", [](FormModel& form) { form.Start(); }, true, true, 0, "Connectting..."},
      {"operation", [](FormModel& form) { form.ChooseOperation(2); }, false, true, 0, ""},
      {"port", [](FormModel& form) { form.ChoosePort(4); }, false, true, 0, "Connectting..."},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    rig_.model->Reset();
    rig_.model->ChoosePort(4);
    EXPECT_TRUE(rig_.State().portOpen);
    view_.processEnds = 0;
    StartWaiting();
    view_.downloadAnswer.reset();  // Open is cancelled
    row.act(*rig_.model);
    EXPECT_EQ(rig_.model->Running(), row.runs);
    EXPECT_EQ(rig_.State().portOpen, row.portOpen);
    EXPECT_EQ(view_.processEnds, row.processEnds);
    if (row.runs) {
      EXPECT_TRUE(ShowsConnecting());
    }
    view_.Pump();
    EXPECT_EQ(rig_.State().status, row.status);
    rig_.ExpectShownUpToDate();
  }
  // Reset also brings back the start-up choice.
  rig_.model->ChooseOperation(3);
  rig_.model->Reset();
  EXPECT_EQ(rig_.State().portIndex, 0);
  EXPECT_EQ(rig_.State().operationIndex, 0);
  EXPECT_EQ(rig_.State().openCaption, "Open");
  EXPECT_TRUE(rig_.State().choicesEnabled);
  EXPECT_TRUE(rig_.State().fileName.empty());
}

TEST(StatusTone, SuccessAndFailureDifferInColour) {
  const struct {
    LinkEvent event;
    StatusTone tone;
  } rows[] = {
      {BoxDoneEvent(), StatusTone::kSuccess},
      {MessageEvent(kMsgEraseSuccess), StatusTone::kSuccess},
      {MessageEvent(kMsgIdentFailed), StatusTone::kFailure},
      {MessageEvent(kMsgConnecting), StatusTone::kNeutral},
      {PercentEvent(Phase::kTransfer, 5, 12), StatusTone::kNeutral},
  };
  for (const auto& row : rows) EXPECT_EQ(ToneOfEvent(row.event), row.tone) << row.event.text;
  EXPECT_NE(ColourOfTone(StatusTone::kSuccess), ColourOfTone(StatusTone::kFailure));
  EXPECT_NE(ColourOfTone(StatusTone::kNeutral), ColourOfTone(StatusTone::kFailure));
}

PortInfo UsbAdapter() {
  PortInfo port{"/dev/ttyUSB1", "CP2102 USB to UART"};
  port.usb = true;
  port.product = "CP2102 USB to UART";
  port.serial = "0001";
  return port;
}

// Ten fixed entries first, then the system's other ports and the virtual boxes, each device once.
TEST(PortEntries, FixedEntriesThenOtherPortsThenBoxes) {
  const std::string fixedDevice = ComDeviceName("COM.02");
  const auto entries =
      ComposePortEntries({{"/dev/ttyUSB0", "USB serial"}, {fixedDevice, "built in"}, UsbAdapter()},
                         {"/dev/pts/7", "/dev/ttyUSB0"});
  std::vector<std::string> names;
  for (const auto& entry : entries) names.push_back(entry.name);
  EXPECT_EQ(names, (std::vector<std::string>{"COM.01", "COM.02", "COM.03", "COM.04", "COM.05",
                                             "COM.06", "COM.07", "COM.08", "COM.09", "COM.10",
                                             "/dev/ttyUSB1", "/dev/ttyUSB0", "/dev/pts/7"}));
  EXPECT_EQ(entries[1].details, fixedDevice);
  EXPECT_EQ(entries[11].details, "USB serial");
  // An adapter and a virtual box read as what they are, not as a bare device path.
  EXPECT_EQ(entries[10].text, "CP2102 USB to UART (ttyUSB1)");
  EXPECT_NE(entries[10].details.find("serial 0001"), std::string::npos);
  EXPECT_EQ(entries[12].text, "Virtual box pts/7");
}

// Listing the ports again keeps the choice, even when its device went away meanwhile.
TEST(PortEntries, RefreshKeepsTheChoice) {
  std::vector<std::string> boxes{"/dev/pts/3", "/dev/pts/4"};
  testing::ScratchFolder folder;
  auto [formEnd, far] = MemoryPort::MakePair();
  FormRig rig(std::move(formEnd), folder.Path(),
              [&boxes] { return ComposePortEntries({}, boxes); });
  auto selected = [&rig] { return rig.State().ports.at(size_t(rig.State().portIndex)).name; };
  EXPECT_EQ(selected(), "COM.01");
  rig.model->ChoosePort(rig.model->EnsurePort("/dev/pts/4"));
  boxes = {"/dev/pts/4", "/dev/pts/9"};
  rig.model->RefreshPorts();
  EXPECT_EQ(selected(), "/dev/pts/4");
  EXPECT_EQ(rig.State().ports.size(), size_t(kFixedPortCount + 2));
  boxes.clear();
  rig.model->RefreshPorts();
  EXPECT_EQ(selected(), "/dev/pts/4");
  EXPECT_EQ(rig.State().ports.size(), size_t(kFixedPortCount + 1));
  rig.ExpectShownUpToDate();
}

}  // namespace
}  // namespace vn

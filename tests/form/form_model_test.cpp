// The form without a box that answers: start-up state and fixed texts, the operation choice,
// Start's refusals, the file choice rules, and stopping a wait for a box with every command that
// stops one.
#include <filesystem>

#include "dld/blocks.h"
#include "form/form_texts.h"
#include "form/instance_rule.h"
#include "form/program_identity.h"
#include "form_rig.h"
#include "link/link_message.h"
#include "support/memory_port.h"
#include "link/status_texts.h"
#include "support/sample_files.h"
#include "support/scratch_folder.h"

namespace vn {
namespace {

// The form on one end of an in-memory port pair whose far end stays silent: a started operation
// waits for a box that never comes.
class FormModelTest : public ::testing::Test {
 protected:
  FormModelTest()
      : ends_(MemoryPort::MakePair()), rig_(std::move(ends_.first), folder_.Path(), [this] {
          return ComposePortEntries({}, boxes_);
        }) {}

  // Not an upgrade file.
  std::string DownloadFile() { return folder_.Write("some.dld", std::vector<uint8_t>(200, 1)); }

  // A sound "Upload Key" file; `damage` flips one byte at that offset first (negative: none).
  std::string KeyFile(const std::string& name, int damage = -1) {
    std::vector<uint8_t> file = testing::SampleUpgradeFile(Operation::kUploadKey, 1);
    if (damage >= 0) file.at(size_t(damage)) ^= 0xFF;
    return folder_.Write(name, file);
  }

  bool ShowsConnecting() {
    return view_.PumpUntil([this] { return rig_.State().status == "Connectting..."; });
  }

  testing::ScratchFolder folder_;
  std::vector<std::string> boxes_;  // the virtual boxes the port list finds
  std::pair<std::unique_ptr<MemoryPort>, std::unique_ptr<MemoryPort>> ends_;
  testing::FormRig rig_;  // goes before the far end
  testing::ScriptedView& view_ = rig_.view;
};

TEST_F(FormModelTest, StartsWithTheFixedChoicesThenSwitchesOpenAndSave) {
  const FormState& state = rig_.State();
  ASSERT_EQ(state.ports.size(), size_t(kFixedPortCount));
  EXPECT_EQ(state.ports.front().text, "COM.01");
  EXPECT_EQ(state.ports.back().text, "COM.10");
  EXPECT_EQ(state.portIndex, 0);
  EXPECT_EQ(OperationNames(),
            (std::vector<std::string>{"Download", "Upload Data", "Upload Default", "Upload Key",
                                      "Upload Loader", "Upload App", "Upload ALL"}));
  EXPECT_EQ(state.operationIndex, 0);
  EXPECT_FALSE(state.portOpen);
  EXPECT_EQ(LampColour(state.portOpen), (Rgb{0xFF, 0, 0}));
  EXPECT_EQ(LampColour(true), (Rgb{0, 0xFF, 0}));
  EXPECT_TRUE(state.choicesEnabled);

  // An operation choice clears the file, the status with its tooltip, and the progress.
  view_.downloadAnswer = DownloadFile();
  rig_.model->Open();
  ASSERT_FALSE(state.status.empty());  // not an upgrade file
  EXPECT_EQ(state.openCaption, "Open");
  const struct {
    int index;
    const char* caption;
  } rows[] = {{1, "Save"}, {6, "Save"}, {0, "Open"}};
  for (const auto& row : rows) {
    rig_.model->ChooseOperation(row.index);
    EXPECT_EQ(state.openCaption, row.caption) << row.index;
    EXPECT_EQ(state.openSaves, row.index != 0);
    EXPECT_TRUE(state.fileName.empty());
    EXPECT_TRUE(state.status.empty());
    EXPECT_TRUE(state.statusToolTip.empty());
    EXPECT_EQ(state.progress, 0);
    rig_.ExpectShownUpToDate();
  }

  // The About window's change list: its heading, then one line per change, the last 3.1.05.
  ASSERT_EQ(ModificationLines().size(), 15u);
  EXPECT_EQ(ModificationLines()[0], "     Data                                Modification ");
  EXPECT_EQ(ModificationLines()[14], " 2006.12.26 :   Modified syspath setting. In version 3.1.05");
}

// Start's checks, after it opened the port. What is on disk at Start is what would be sent: a
// download file that no longer holds the header shown since Open is refused, with the reason
// beside the status. An existing upload file is covered only when the user says so: Cancel
// forgets the name and touches nothing. A file that Open finds unsound is shown so, not refused:
// the box has the last word.
TEST_F(FormModelTest, StartChecksTheChosenFile) {
  const char* changed = "has changed since it was opened";
  const struct {
    int operation;
    std::string change;
    const char* status;  // nullptr: starts
    const char* reason;
    const char* again;  // the status of a second Start
  } rows[] = {{0, "no file", kNoDownloadFileText, "", kNoDownloadFileText},
              {3, "no file", kNoUploadFileText, "", kNoUploadFileText},
              {0, "remove", kMissingDownloadFileText, "", kMissingDownloadFileText},
              {0, "rewrite", kMissingDownloadFileText, changed, kMissingDownloadFileText},
              {0, "rename", kMissingDownloadFileText, changed, kMissingDownloadFileText},
              {0, "tail", nullptr, "", ""},  // one file, whole: the box judges its partitions
              {1, "cover: cancel", "", "", kNoUploadFileText},
              {3, "cover: yes", nullptr, "", ""},
              {0, "sound key", nullptr, "", ""},
              {0, "damaged key", nullptr, "", ""}};
  for (const auto& row : rows) {
    const std::string& change = row.change;
    SCOPED_TRACE(change);
    rig_.model->ChooseOperation(row.operation);
    // A damaged key file's first descriptor holds a flash address its CRC no longer matches.
    const std::string file = !change.ends_with("key") ? DownloadFile()
                             : change == "sound key"  ? KeyFile("sound.dld")
                                                      : KeyFile("damaged.dld", kHeaderSize + 4);
    std::vector<uint8_t> other(200, 0x02);
    view_.downloadAnswer = view_.uploadAnswer = file;
    view_.overwriteAnswer = change == "cover: yes";
    view_.overwriteQuestions = 0;
    if (change != "no file") rig_.model->Open();
    EXPECT_EQ(rig_.State().fileName, change == "no file" ? "" : file);
    if (change.ends_with("key")) {
      EXPECT_EQ(rig_.State().status.starts_with("Unsound file: descriptor 1 at offset 71"),
                change == "damaged key")
          << rig_.State().status;
      EXPECT_EQ(rig_.State().status.empty(), change == "sound key");
      EXPECT_EQ(rig_.State().tone,
                change == "sound key" ? StatusTone::kNeutral : StatusTone::kFailure);
    }
    if (change == "remove") {
      std::filesystem::remove(file);
    } else if (change == "rename") {
      std::filesystem::rename(folder_.Write("other.dld", other), file);
    } else if (change == "rewrite" || change == "tail") {
      if (change == "tail") std::fill_n(other.begin(), kHeaderSize, 0x01);
      testing::WriteBytes(file, other);
    }
    rig_.model->Start();
    const FormState& state = rig_.State();
    EXPECT_EQ(rig_.model->Running(), row.status == nullptr);
    EXPECT_TRUE(state.portOpen);
    EXPECT_EQ(view_.overwriteQuestions, change.starts_with("cover") ? 1 : 0);
    if (!row.status) {
      EXPECT_TRUE(ShowsConnecting());
      EXPECT_EQ(state.tone, StatusTone::kNeutral);
      continue;
    }
    EXPECT_EQ(state.status, row.status);
    EXPECT_EQ(state.tone, *row.status ? StatusTone::kFailure : StatusTone::kNeutral);
    if (*row.reason) {
      EXPECT_NE(state.statusToolTip.find(file + " " + row.reason), std::string::npos)
          << state.statusToolTip;
    }
    // Start again: still refused, never a new file sent instead, never a question twice.
    rig_.model->Start();
    EXPECT_FALSE(rig_.model->Running());
    EXPECT_EQ(state.status, row.again);
    EXPECT_LE(view_.overwriteQuestions, 1);
    EXPECT_TRUE(change == "remove" || std::filesystem::file_size(file) == 200u);
    rig_.ExpectShownUpToDate();
  }
  // A cancelled Open leaves everything cleared.
  view_.downloadAnswer.reset();
  rig_.model->Open();
  EXPECT_TRUE(rig_.State().fileName.empty());
  EXPECT_TRUE(rig_.State().status.empty());
  rig_.ExpectShownUpToDate();
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
      {"port", [](FormModel& form) { form.ChoosePort(4); }, false, true, 0, "Connectting..."}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    rig_.model->Reset();
    rig_.model->ChoosePort(4);
    EXPECT_TRUE(rig_.State().portOpen);
    view_.processEnds = 0;
    view_.downloadAnswer = DownloadFile();
    rig_.model->Open();
    rig_.model->Start();
    ASSERT_TRUE(rig_.model->Running() && ShowsConnecting());
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
  rig_.ExpectAsStarted();
}

TEST(StatusTone, SuccessAndFailureDifferInColour) {
  const struct {
    LinkEvent event;
    StatusTone tone;
  } rows[] = {{BoxDoneEvent(), StatusTone::kSuccess},
              {MessageEvent(kMsgEraseSuccess), StatusTone::kSuccess},
              {MessageEvent(kMsgIdentFailed), StatusTone::kFailure},
              {MessageEvent(kMsgConnecting), StatusTone::kNeutral},
              {PercentEvent(Phase::kTransfer, 5, 12), StatusTone::kNeutral}};
  for (const auto& row : rows) EXPECT_EQ(ToneOfEvent(row.event), row.tone) << row.event.text;
  EXPECT_NE(ColourOfTone(StatusTone::kSuccess), ColourOfTone(StatusTone::kFailure));
}

// One copy per user and desktop: hand over if a first copy answers, else listen; a failed listen
// may have lost a race, so hand over once more before running unguarded.
TEST(SingleInstance, DecidesTheRoleAndTheName) {
  const struct {
    std::vector<bool> handOvers;
    bool listens;
    InstanceRole role;
  } rows[] = {{{true}, true, InstanceRole::kHandedOver},
              {{false}, true, InstanceRole::kFirst},
              {{false, true}, false, InstanceRole::kHandedOver},
              {{false, false}, false, InstanceRole::kAlone}};
  for (const auto& row : rows) {
    size_t tries = 0;
    EXPECT_EQ(
        DecideInstanceRole([&] { return row.handOvers.at(tries++); }, [&] { return row.listens; }),
        row.role);
    EXPECT_EQ(tries, row.handOvers.size());
  }
  const std::string name = InstanceName(kApplicationTitle, "1000", ":3");
  EXPECT_EQ(name, "_Vespanode_3.1.05_-1000-_3");
  EXPECT_EQ(InstanceName(kApplicationTitle, "1000", ":3.0"), name);  // screen 0 of display 3
  EXPECT_NE(InstanceName(kApplicationTitle, "1000", ":4"), name);
  EXPECT_NE(InstanceName(kApplicationTitle, "1001", ":3"), name);
}

// Ten fixed entries first, then the system's other ports and the virtual boxes, each device once.
TEST(PortEntries, FixedEntriesThenOtherPortsThenBoxes) {
  const std::string fixedDevice = ComDeviceName("COM.02");
  PortInfo adapter{.path = "/dev/ttyUSB1", .description = "CP2102 USB to UART", .usb = true};
  adapter.product = adapter.description;
  adapter.serial = "0001";
  const auto entries =
      ComposePortEntries({{"/dev/ttyUSB0", "USB serial"}, {fixedDevice, "built in"}, adapter},
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
TEST_F(FormModelTest, PortListRefreshKeepsTheChoice) {
  auto selected = [this] { return rig_.State().ports.at(size_t(rig_.State().portIndex)).name; };
  boxes_ = {"/dev/pts/3", "/dev/pts/4"};
  rig_.model->RefreshPorts();
  EXPECT_EQ(selected(), "COM.01");
  rig_.model->ChoosePort(kFixedPortCount + 1);
  boxes_ = {"/dev/pts/4", "/dev/pts/9"};
  rig_.model->RefreshPorts();
  EXPECT_EQ(selected(), "/dev/pts/4");
  EXPECT_EQ(rig_.State().ports.size(), size_t(kFixedPortCount + 2));
  boxes_.clear();
  rig_.model->RefreshPorts();
  EXPECT_EQ(selected(), "/dev/pts/4");
  EXPECT_EQ(rig_.State().ports.size(), size_t(kFixedPortCount + 1));
  rig_.ExpectShownUpToDate();
}

}  // namespace
}  // namespace vn

// Downloads against the virtual box over a pseudo-terminal.
#include <gtest/gtest.h>

#include "driver_session.h"
#include "link/event_stamp.h"

namespace vn::testing {
namespace {

std::vector<std::string> DownloadTexts(const std::vector<int>& percents) {
  std::vector<std::string> texts = {"Connectting...", "Connect Success!", "Verify...",
                                    "Ident check Success!", "Transfer..."};
  for (int p : percents) texts.push_back("Transfering Data:  " + std::to_string(p) + "%");
  texts.insert(texts.end(), {"Transfer Success!", "Erase flash..."});
  for (int p : percents) texts.push_back("Erase flash...  " + std::to_string(p) + "%");
  texts.insert(texts.end(), {"Erase flash Success!", "Program flash..."});
  for (int p : percents) texts.push_back("Program flash...  " + std::to_string(p) + "%");
  texts.insert(texts.end(), {"Program flash Success!", "Update Success!"});
  return texts;
}

TEST(Download, TwoPartitionsShowEveryTextInOrderAndProgramTheBox) {
  DriverSession session;
  const std::string file = session.PackedSet(Operation::kUploadDefault, 1);
  const auto image = SampleFlashImage(1);

  const LoopResult result = session.Run(Operation::kDownload, file);

  EXPECT_EQ(result.boxesDone, 1);
  EXPECT_EQ(result.end, LoopEnd::kDone);
  EXPECT_EQ(session.Statuses(), DownloadTexts({50, 100}));
  EXPECT_FALSE(session.station.Running());
  EXPECT_TRUE(session.station.PortOpened());
  session.ExpectFlashHolds(image, UploadRegionList(Operation::kUploadDefault));
  EXPECT_TRUE(session.observer.ControlsEnabled());
  // The progress bar fills once per phase: 1, 2, then over again.
  std::vector<int> positions;
  for (auto [position, maximum] : session.observer.Progress()) {
    if (maximum == 2) positions.push_back(position);
  }
  EXPECT_EQ(positions, (std::vector<int>{1, 2, 1, 2, 1, 2}));
}

TEST(Download, ThreePartitionsShowThirdsAndFramesNumberOnAcrossPartitions) {
  DriverSession session;
  const std::vector<UploadRegion> regions = {
      {0, 0x40000000, 0x4000}, {0, 0x40010000, 0x10000}, {1, 0x40180000, 0x2000}};
  const std::string file = session.scratch.Write(
      "three.dld", BuildUpgradeFile(regions, SampleFlashImage(2), LabBoxIdentity()));

  const LoopResult result = session.Run(Operation::kDownload, file);

  EXPECT_EQ(result.boxesDone, 1);
  EXPECT_EQ(session.Statuses(), DownloadTexts({33, 66, 100}));
  ASSERT_TRUE(session.BoxFinished(1));
  const std::vector<int> numbers = session.box.Stats().frameNumbers;
  ASSERT_FALSE(numbers.empty());
  for (size_t i = 0; i < numbers.size(); ++i) EXPECT_EQ(numbers[i], int((i + 1) & 0xFF)) << i;
}

// A file the box cannot take fails at its step: one of no partitions after the transfer, one cut
// after its last descriptor in the transfer, a stranger's at the identity check, unless it says
// "Ident for nocheck".
TEST(Download, AFileEndsAtTheStepThatCannotTakeIt) {
  const auto key = UploadRegionList(Operation::kUploadKey);
  std::vector<uint8_t> cut = BuildUpgradeFile(key, SampleFlashImage(5), LabBoxIdentity());
  cut.resize(kHeaderSize + kDescriptorSize);
  FileIdentity stranger = LabBoxIdentity();
  stranger.hardwareModule = "OTHER";
  FileIdentity nocheck = stranger;
  nocheck.identForNocheck = 1;
  FileIdentity prefix = LabBoxIdentity();
  prefix.softwareVersion = "3.1.0";  // a prefix of the box's is still another version
  const struct {
    std::vector<uint8_t> file;
    std::vector<std::string> lastTexts;
  } rows[] = {{BuildUpgradeFile({}, {}, LabBoxIdentity()),
               {"Transfer Success!", "Erase flash...", "Erase flash failed!"}},
              {cut, {"Transfer failed!"}},
              {BuildUpgradeFile(key, SampleFlashImage(4), stranger), {"Ident check failed!"}},
              {BuildUpgradeFile(key, SampleFlashImage(4), prefix), {"Ident check failed!"}},
              {BuildUpgradeFile(key, SampleFlashImage(4), nocheck), {"Update Success!"}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lastTexts.back());
    DriverSession session;
    const bool takes = row.lastTexts.back() == "Update Success!";
    const LoopResult result =
        session.Run(Operation::kDownload, session.scratch.Write("file.dld", row.file));
    EXPECT_EQ(result.end, takes ? LoopEnd::kDone : LoopEnd::kFailed);
    EXPECT_EQ(result.boxesDone, takes ? 1 : 0);
    const auto texts = session.Statuses();
    ASSERT_GE(texts.size(), row.lastTexts.size());
    EXPECT_EQ(std::vector(texts.end() - ptrdiff_t(row.lastTexts.size()), texts.end()),
              row.lastTexts);
  }
}

TEST(Download, NaksBelowTenAreRetriedWithTheSameFrameNumber) {
  DriverSession session(BoxFaults{.nakFrame = 2, .nakFrameTimes = 9});
  const std::string file = session.PackedSet(Operation::kUploadDefault, 6);
  EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);
  ASSERT_TRUE(session.BoxFinished(1));
  const std::vector<int> numbers = session.box.Stats().frameNumbers;
  ASSERT_GE(numbers.size(), 11u);
  EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 2), 10);
}

// A line that runs unattended: a box that falls silent while erasing fails at the stall limit
// instead of holding the port for ever, and the next box is served with tallies of its own.
TEST(Download, KeepGoingFailsAStalledBoxAndServesTheNext) {
  BoxOptions options;
  options.beforeSession = [](int session, BoxFaults& faults, std::vector<uint8_t>&) {
    faults.silentAt = session == 1 ? FaultStep::kErase : FaultStep::kNone;
  };
  DriverSession session(options);
  const std::string file = session.PackedSet(Operation::kUploadKey, 10);
  session.options.keepGoing = true;
  session.options.stallLimit = std::chrono::milliseconds(1500);

  const LoopResult result = session.Run(Operation::kDownload, file, 2);

  EXPECT_FALSE(session.hung);
  EXPECT_EQ(result.boxesDone, 1);
  EXPECT_EQ(result.boxesFailed, 1);
  EXPECT_NE(result.end, LoopEnd::kFailed) << "the last box succeeded";
  // Each box has its outcome: the stalled one's cause is the stall, in words, not its status text.
  const auto outcomes = session.observer.Outcomes();
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[0].result, BoxResult::kFailure);
  EXPECT_EQ(outcomes[0].failureKind, BoxFailureKind::kStalled);
  EXPECT_EQ(outcomes[0].statusText, "Erase flash failed!");
  EXPECT_EQ(outcomes[0].phase, Phase::kErase);
  EXPECT_NE(OutcomeReason(outcomes[0]).find("no progress for 1.5 s (the stall limit)"),
            std::string::npos)
      << OutcomeReason(outcomes[0]);
  EXPECT_EQ(outcomes[1].result, BoxResult::kSuccess);
  EXPECT_EQ(outcomes[1].box, 2);
  EXPECT_EQ(session.station.LastOutcome().value_or(BoxOutcome{}).box, 2);
  const auto texts = session.Statuses();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Erase flash failed!"), 1);
  const auto events = session.observer.Events();
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back().box, 2);
  EXPECT_EQ(events.back().kind, EventKind::kSuccess);
  // The second box's tallies start from nothing: it sent the file once.
  EXPECT_EQ(events.back().link.framesResent, 0);
  EXPECT_EQ(events.back().link.timeouts, 0);
  EXPECT_GT(events.back().link.bytesSent, int64_t(ReadBytes(file).size()) - kHeaderSize);
}

// An adapter that holds received bytes back makes every answer late; the run says so once, and
// the late answers show in every event's tallies.
TEST(Download, LateAnswersWarnOnce) {
  BoxOptions options;
  options.faults.stallRead = std::chrono::milliseconds(25);
  options.pace = true;  // the delay is what comes on top of the line time
  DriverSession session(options);
  const std::string file = session.PackedSet(Operation::kUploadKey, 11);

  EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);

  const auto events = session.observer.Events();
  const auto warnings = std::count_if(events.begin(), events.end(), [](const LinkEvent& event) {
    return event.kind == EventKind::kWarning;
  });
  EXPECT_EQ(warnings, 1);
  EXPECT_GT(events.back().link.MeanAnswerDelayMs(), kSlowAnswerMs);
}

// The warning blames what the PC can see: its own late wake-ups (a loaded PC), or the line when
// it wakes on time; neither when it wakes somewhat late, or before it has slept often enough to
// tell.
TEST(Download, LateAnswersBlameWhatTheDelayCameFrom) {
  struct Row {
    int wakeups;
    int64_t wakeupDelayMicros;
    const char* blamed;
    const char* notBlamed;
  };
  const Row rows[] = {
      {kWakeupsBeforeJudging, 8 * 15000, "other programs keep it busy", "adapter"},
      {kWakeupsBeforeJudging, 8 * 200, "adapter with a high latency", "busy"},
      {kWakeupsBeforeJudging, 8 * 2000, "a busy PC or a serial adapter", "keep it busy"},
      {kWakeupsBeforeJudging - 1, 0, "a busy PC or a serial adapter", "keep it busy"}};
  for (const Row& row : rows) {
    LinkCounters link;
    link.answers = kAnswersBeforeJudging;
    link.answerDelayMicros = kAnswersBeforeJudging * 25000;
    link.wakeups = row.wakeups;
    link.wakeupDelayMicros = row.wakeupDelayMicros;
    const std::string text = SlowAnswerWarning(link);
    EXPECT_NE(text.find("25 ms late"), std::string::npos) << text;
    EXPECT_NE(text.find(row.blamed), std::string::npos) << text;
    EXPECT_EQ(text.find(row.notBlamed), std::string::npos) << text;
  }
}

// A stop as the box finishes still counts the box, and ends the line after it; a stop during
// programming is no success.
TEST(Download, AStopCountsOnlyABoxThatFinished) {
  struct Row {
    Operation set;
    const char* stopAt;
    int boxesDone;
    const char* lastText;
  };
  const Row rows[] = {
      {Operation::kUploadKey, "Program flash Success!", 1, "Update Success!"},
      {Operation::kUploadData, "Program flash...  25%", 0, "Program flash failed!"}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.stopAt);
    DriverSession session;
    const std::string file = session.PackedSet(row.set, 12);
    session.observer.SetStatusHook([&](const std::string& text) {
      if (text == row.stopAt) session.station.RequestStop();
    });

    const LoopResult result = session.Run(Operation::kDownload, file, 0);

    EXPECT_EQ(result.end, LoopEnd::kStopped);
    EXPECT_EQ(result.boxesDone, row.boxesDone);
    const auto texts = session.Statuses();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Update Success!"), row.boxesDone);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Program flash Success!"), row.boxesDone);
    EXPECT_EQ(texts.back(), row.lastText);
    EXPECT_TRUE(session.observer.ControlsEnabled());
  }
}

// A program folder that cannot hold the staged header, or a read-only file: the box is flashed
// all the same, with the header chosen.
TEST(Download, AnUnwritableProgramFolderOrAReadOnlyFileStillFlashes) {
  for (const bool readOnly : {false, true}) {
    SCOPED_TRACE(readOnly ? "read-only file" : "unwritable program folder");
    ScratchFolder elsewhere;
    DriverSession session({}, readOnly ? std::string() : elsewhere.File("no/such/folder"));
    const std::string file = session.PackedSet(Operation::kUploadKey, 9);
    if (readOnly) std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);
    EXPECT_TRUE(session.observer.ErrorBoxes().empty());
    EXPECT_TRUE(session.BoxFinished(1));
  }
}

}  // namespace
}  // namespace vn::testing

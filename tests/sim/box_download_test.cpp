// The virtual box receiving downloads, driven by a bare PC end over its pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>

#include "dld/blocks.h"
#include "dld/crc32.h"
#include "dld/region_sets.h"
#include "mini_pc.h"
#include "sim/pty_line.h"

namespace vn::testing {
namespace {

using namespace std::chrono_literals;

const FileIdentity kBox = LabBoxIdentity();

// Reads `count` reports of `code`; their sub bytes in order.
std::vector<int> ReadReports(MiniPc& pc, uint8_t code, int count) {
  std::vector<int> subs;
  for (int i = 0; i < count; ++i) {
    const auto frame = pc.Read(kCommandFrameSize);
    if (frame.size() != 4 || frame[0] != STX || frame[1] != code) break;
    subs.push_back(frame[2]);
  }
  return subs;
}

struct BoxAndPc {
  explicit BoxAndPc(BoxOptions options = {}) : box(std::move(options)) {
    EXPECT_TRUE(box.Start()) << box.Stats().lastError;
    pc = std::make_unique<MiniPc>(box.PtyPath());
  }
  explicit BoxAndPc(const BoxFaults& faults) : BoxAndPc(WithFaults(faults)) {}
  static BoxOptions WithFaults(const BoxFaults& faults) {
    BoxOptions options;
    options.faults = faults;
    return options;
  }
  // Connects and sends a header announcing `count` partitions, which the box accepts, then the
  // `partitions` given.
  bool SendDownload(int count, const std::vector<PackedPartition>& partitions = {}) {
    return pc->Connect(kCodeDownload) && SendPartitions(*pc, HeaderFor(kBox, count), partitions);
  }
  bool SendDescriptor(const PackedPartition& partition) {
    pc->Write(partition.descriptor);
    return pc->Read(1) == std::vector<uint8_t>{ACK};
  }
  VirtualBox box;
  std::unique_ptr<MiniPc> pc;
};

// A box that ends after its last report closes its line only once the PC has read what it sent:
// the hang-up would empty the PC's input. Bytes just written are on their way through the
// pseudo-terminal for a moment (under load, many milliseconds) and must count as unread.
TEST(BoxLine, CountsBytesStillOnTheirWayAsUnread) {
  PtyLine line;
  Failure error;
  ASSERT_TRUE(line.Open(error)) << FailureText(error);
  MiniPc pc(line.SlavePath());
  ASSERT_TRUE(pc.IsOpen());
  const CommandFrame report = MakeCommandFrame(kCodeProgram, 1);
  int early = 0;
  for (int round = 0; round < 200; ++round) {
    ASSERT_TRUE(line.WriteAll(report.data(), report.size(), [] { return true; }));
    if (line.Unread() != int(report.size())) ++early;
    ASSERT_EQ(pc.Read(kCommandFrameSize, 1000ms).size(), report.size());
    ASSERT_EQ(line.Unread(), 0);
  }
  EXPECT_EQ(early, 0) << "rounds in which the last bytes did not count yet";
}

TEST(BoxIdle, AnnouncesItselfAgainUntilAskedAndSurvivesAReopenedPort) {
  BoxAndPc run;
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(IsCommand(run.pc->Read(4), kCodeReady, 0)) << i;
  run.pc->Close();
  MiniPc again(run.box.PtyPath());
  ASSERT_TRUE(again.IsOpen());
  EXPECT_TRUE(IsCommand(again.Read(4), kCodeReady, 0));
  EXPECT_EQ(run.box.Stats().sessionsStarted, 0);
}

// A PC that sends a start command before the box announced itself again, as one taking a stale
// report for a ready frame would: the restarting box hears nothing and announces itself.
TEST(BoxIdle, AfterASessionOnlyAStartCommandAnsweringItsReadyFrameCounts) {
  std::atomic<int> pcSide{-1};  // written to without flushing what the PC has still to read
  BoxOptions options;
  options.faults.refuseIdentity = true;
  options.onSessionEnd = [&pcSide](const BoxSessionReport&) {
    const CommandFrame start = MakeCommandFrame(kCodeDownload, 0);
    EXPECT_EQ(::write(pcSide, start.data(), start.size()), ssize_t(start.size()));
  };
  BoxAndPc run(options);
  pcSide = ::open(run.box.PtyPath().c_str(), O_WRONLY | O_NOCTTY);
  ASSERT_TRUE(run.pc->Connect(kCodeDownload));
  run.pc->Write(HeaderFor(kBox, 1));
  EXPECT_EQ(run.pc->Read(1), std::vector<uint8_t>{ACK});
  EXPECT_TRUE(IsCommand(run.pc->Read(kCommandFrameSize), kCodeIdent, 0));
  EXPECT_TRUE(IsCommand(run.pc->Read(kCommandFrameSize), kCodeReady, 0));
  EXPECT_EQ(run.box.Stats().sessionsStarted, 1);
  ::close(pcSide);
}

TEST(BoxIdle, NoiseOrAWrongFirstFrameIsFollowedByAReadyFrame) {
  BoxAndPc wrong(BoxFaults{.nonReadyFirst = true});
  // Wrong and ready frames take turns, so that a PC opening late still meets a wrong one.
  bool sawWrong = false;
  for (int i = 0; i < 4 && !sawWrong; ++i) sawWrong = IsCommand(wrong.pc->Read(4), 0x04, 0);
  EXPECT_TRUE(sawWrong);
  EXPECT_TRUE(IsCommand(wrong.pc->Read(4), kCodeReady, 0));

  BoxAndPc noisy(BoxFaults{.garbageBeforeReady = true});
  EXPECT_TRUE(noisy.pc->Connect(kCodeDownload));
}

TEST(BoxDownload, ProgramsEveryPartitionAfterReportingEach) {
  BoxAndPc run;
  const std::vector<PackedPartition> partitions = {Pack(0x40180000, SampleFlashImage(1, 0x10000)),
                                                   Pack(0x40004000, SampleFlashImage(2, 0x2000))};
  ASSERT_TRUE(run.SendDownload(2, partitions));
  EXPECT_EQ(ReadReports(*run.pc, kCodeErase, 2), (std::vector<int>{1, 1}));
  EXPECT_EQ(ReadReports(*run.pc, kCodeProgram, 2), (std::vector<int>{1, 1}));
  ASSERT_TRUE(run.box.WaitSessions(1, 10s));

  const auto flash = run.box.FlashCopy();
  ASSERT_EQ(flash.size(), kFlashSize);
  for (const auto& p : partitions) {
    EXPECT_EQ(RegionOfImage(flash, p.address, p.contents.size()), p.contents);
  }
  EXPECT_EQ(RegionOfImage(flash, 0x40000000, 0x4000), std::vector<uint8_t>(0x4000, 0xFF));
  const BoxStats stats = run.box.Stats();
  EXPECT_EQ(stats.downloadsDone, 1);
  EXPECT_EQ(stats.programmedAddresses, (std::vector<uint32_t>{0x40180000, 0x40004000}));
  // Numbered from 1 across both partitions.
  ASSERT_FALSE(stats.frameNumbers.empty());
  for (size_t i = 0; i < stats.frameNumbers.size(); ++i)
    EXPECT_EQ(stats.frameNumbers[i], int(i + 1));

  // And the next box is announced.
  EXPECT_TRUE(run.pc->Connect(kCodeDownload));
}

TEST(BoxDownload, ADamagedHeaderIsAskedForAgainButRefusedWhenItComesTheSameTwice) {
  BoxAndPc run;
  ASSERT_TRUE(run.pc->Connect(kCodeDownload));
  std::vector<uint8_t> header = HeaderFor(kBox, 1);
  header[10] ^= 0x01;
  run.pc->Write(header);
  EXPECT_EQ(run.pc->Read(1), std::vector<uint8_t>{NAK});
  // A header of 0xFF bytes, as the PC sends when it cannot stage the header: never right.
  const std::vector<uint8_t> blank(kHeaderSize, 0xFF);
  run.pc->Write(blank);
  EXPECT_EQ(run.pc->Read(1), std::vector<uint8_t>{NAK});
  run.pc->Write(blank);
  EXPECT_EQ(run.pc->Read(1), std::vector<uint8_t>{ACK});
  EXPECT_TRUE(IsCommand(run.pc->Read(4), kCodeIdent, 0));
}

TEST(BoxDownload, APartitionThatFailsItsChecksIsReportedAndNotWritten) {
  BoxAndPc run;
  PackedPartition bad = Pack(0x401B0000, SampleFlashImage(4, 0x1000));
  // Frames and the block's own CRC stay right; only the descriptor's CRC no longer matches.
  bad.block[6] ^= 0x40;
  const uint32_t r = uint32_t(bad.block.size() - 8);
  const uint32_t crc = CalcCrc32(bad.block.data() + 4, int32_t(r));
  for (int i = 0; i < 4; ++i) bad.block[4 + r + i] = uint8_t(crc >> (8 * i));
  const PackedPartition good = Pack(0x401C0000, SampleFlashImage(5, 0x1000));

  ASSERT_TRUE(run.SendDownload(2, {bad, good}));
  EXPECT_EQ(ReadReports(*run.pc, kCodeErase, 2), (std::vector<int>{1, 1}));
  EXPECT_EQ(ReadReports(*run.pc, kCodeProgram, 2), (std::vector<int>{0, 1}));
  ASSERT_TRUE(run.box.WaitSessions(1, 10s));
  const auto flash = run.box.FlashCopy();
  EXPECT_EQ(RegionOfImage(flash, 0x401B0000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(RegionOfImage(flash, 0x401C0000, 0x1000), good.contents);
}

TEST(BoxDownload, NakFaultsAndARepeatedFrameKeepTheDataWhole) {
  // The first send of frame 2 (frame 1 comes twice) is refused twice.
  BoxAndPc run(BoxFaults{.nakFrame = 3, .nakFrameTimes = 2, .eraseFailAt = 1});
  const PackedPartition partition = Pack(0x40020000, SampleFlashImage(6, 0x10000));
  ASSERT_GT(partition.block.size(), 3u * kFramePayloadMax);

  ASSERT_TRUE(run.SendDownload(1));
  ASSERT_TRUE(run.SendDescriptor(partition));
  // The first frame twice, as a PC does that missed the ACK: acknowledged, taken once.
  const DataFrame first = BuildDataFrame(1, std::span(partition.block).first(kFramePayloadMax));
  for (int i = 0; i < 2; ++i) {
    run.pc->Write(first);
    ASSERT_EQ(run.pc->Read(1), std::vector<uint8_t>{ACK});
  }
  uint8_t number = 2;
  const std::vector<uint8_t> rest(partition.block.begin() + kFramePayloadMax,
                                  partition.block.end());
  ASSERT_TRUE(SendBlock(*run.pc, rest, number));
  // One failure report on top, then a success for the partition.
  EXPECT_EQ(ReadReports(*run.pc, kCodeErase, 2), (std::vector<int>{0, 1}));
  EXPECT_EQ(ReadReports(*run.pc, kCodeProgram, 1), (std::vector<int>{1}));
  ASSERT_TRUE(run.box.WaitSessions(1, 10s));

  EXPECT_EQ(RegionOfImage(run.box.FlashCopy(), 0x40020000, 0x10000), partition.contents);
  const BoxStats stats = run.box.Stats();
  ASSERT_GE(stats.frameNumbers.size(), 5u);
  EXPECT_EQ(std::vector<int>(stats.frameNumbers.begin(), stats.frameNumbers.begin() + 5),
            (std::vector<int>{1, 1, 2, 2, 2}));
  EXPECT_EQ(stats.naksSent, 2);
  EXPECT_EQ(stats.framesResent, 1);
}

TEST(BoxDownload, ASilentStepLeavesThePcWithoutAnAnswer) {
  BoxAndPc run(BoxFaults{.silentAt = FaultStep::kVerdict});
  ASSERT_TRUE(run.pc->Connect(kCodeDownload));
  run.pc->Write(HeaderFor(kBox, 1));
  EXPECT_EQ(run.pc->Read(1), std::vector<uint8_t>{ACK});
  EXPECT_TRUE(run.pc->Read(kCommandFrameSize, 500ms).empty());
  // Resends go unanswered too.
  run.pc->Write(HeaderFor(kBox, 1));
  EXPECT_TRUE(run.pc->Read(1, 500ms).empty());
  EXPECT_TRUE(run.box.Running());
}

TEST(BoxDownload, VanishingMidTransferClosesThePort) {
  BoxAndPc run(BoxFaults{.vanishAt = FaultStep::kFrame});
  const PackedPartition partition = Pack(0x40040000, SampleFlashImage(8, 0x4000));
  ASSERT_TRUE(run.SendDownload(1));
  ASSERT_TRUE(run.SendDescriptor(partition));
  uint8_t number = 1;
  EXPECT_FALSE(SendBlock(*run.pc, partition.block, number));
  std::vector<uint8_t> nothing;
  EXPECT_EQ(run.pc->Read(1, nothing, 5s), PcRead::kVanished);
  EXPECT_FALSE(run.box.WaitSessions(1, 5s));
  EXPECT_FALSE(run.box.Running());
  run.box.Stop();  // still fine after the thread ended by itself
}

}  // namespace
}  // namespace vn::testing

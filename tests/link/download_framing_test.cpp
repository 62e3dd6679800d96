// The PC sending header, descriptors and data frames to a box scripted by hand.
#include <gtest/gtest.h>

#include <thread>

#include "dld/blocks.h"
#include "dld/byte_order.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "far_end.h"
#include "link/framing.h"
#include "support/memory_port.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

Bytes DescriptorBytes(uint8_t flag) {
  const FILE_PARTITION_HEADER_T descriptor = MakeDescriptor(flag, 0, {}, {});
  return Bytes(BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
}

// A data block of `size` bytes in all: tag, 24-bit count, and a pattern.
Bytes DataBlock(int32_t size, uint8_t seed) {
  Bytes block(static_cast<size_t>(size));
  block[0] = kDataTag;
  PutLe24(&block[1], uint32_t(size - 4));
  for (int32_t i = 4; i < size; ++i) block[i] = uint8_t(seed + i * 13);
  return block;
}

Bytes PayloadOf(const Bytes& frame, int32_t count) {
  return Bytes(frame.begin() + kFramePayloadAt, frame.begin() + kFramePayloadAt + count);
}

// Sends from `position_` on, numbering frames from `frameNumber_`.
class DownloadFramingTest : public RigTest {
 protected:
  bool Section(const Bytes& file, const FrameDone& onFrame = {}) {
    return SendSection(port(), file, position_, frameNumber_, onFrame);
  }
  bool Descriptor(const Bytes& file) { return SendDescriptor(port(), file, position_); }
  int64_t position_ = 0;
  int frameNumber_ = 1;
};

TEST_P(DownloadFramingTest, PartitionsGoOutAsNumberedFramesAcrossBlocks) {
  const Bytes firstBlock = DataBlock(2040, 1), secondBlock = DataBlock(900, 2);
  const Bytes file(Joined({DescriptorBytes(1), firstBlock, DescriptorBytes(2), secondBlock}));

  std::vector<Bytes> frames;
  std::vector<Bytes> descriptors;
  std::thread boxThread([&] {
    for (int frameCount : {3, 1}) {
      auto descriptor = box().Receive(kDescriptorSize);
      if (!descriptor) return;
      descriptors.push_back(*descriptor);
      box().Send({ACK});
      for (int i = 0; i < frameCount; ++i) {
        auto frame = box().Receive(kDataFrameSize);
        if (!frame) return;
        frames.push_back(*frame);
        box().Send({ACK});
      }
    }
  });

  std::vector<int32_t> payloads;
  const FrameDone onFrame = [&](int32_t payload) { payloads.push_back(payload); };
  EXPECT_TRUE(Descriptor(file));
  EXPECT_EQ(position_, kDescriptorSize);
  EXPECT_TRUE(Section(file, onFrame));
  EXPECT_TRUE(Descriptor(file));
  EXPECT_TRUE(Section(file, onFrame));
  boxThread.join();

  EXPECT_EQ(position_, 2 * kDescriptorSize + 2040 + 900);
  EXPECT_EQ(frameNumber_, 5);
  EXPECT_EQ(payloads, (std::vector<int32_t>{1020, 1020, 0, 900}));
  ASSERT_EQ(descriptors.size(), 2u);
  EXPECT_EQ(descriptors[1], DescriptorBytes(2));
  ASSERT_EQ(frames.size(), 4u);
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_TRUE(DataFramePasses(frames[i].data())) << i;
    EXPECT_EQ(frames[i][1], i + 1);
  }
  EXPECT_EQ(Joined({PayloadOf(frames[0], 1020), PayloadOf(frames[1], 1020)}), firstBlock);
  EXPECT_EQ(PayloadOf(frames[2], kFramePayloadMax), Bytes(kFramePayloadMax, 0));

  // The short frame is zero padded and its sum covers the payload only.
  const Bytes& last = frames[3];
  EXPECT_EQ(PayloadOf(last, 900), secondBlock);
  EXPECT_EQ(Bytes(last.begin() + 903, last.begin() + kFrameSumAt), Bytes(120, 0));
  uint32_t sum = 0;
  for (uint8_t byte : secondBlock) sum += byte;
  EXPECT_EQ(last[kFrameSumAt], uint8_t(sum));
}

TEST_P(DownloadFramingTest, UnansweredFrameIsResentWithTheSameNumber) {
  const Bytes file(DataBlock(1500, 3));
  std::vector<Bytes> frames;
  std::thread boxThread([&] {
    for (uint8_t answer : {NAK, STX, ACK, ACK}) {
      auto frame = box().Receive(kDataFrameSize);
      if (!frame) return;
      frames.push_back(*frame);
      box().Send({answer});
    }
  });
  frameNumber_ = 7;
  EXPECT_TRUE(Section(file));
  boxThread.join();

  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(frames[0], frames[1]);
  EXPECT_EQ(frames[0], frames[2]);
  EXPECT_EQ(frames[2][1], 7);
  EXPECT_EQ(frames[3][1], 8);
  EXPECT_EQ(frameNumber_, 9);
  EXPECT_EQ(position_, 1500);
}

TEST_P(DownloadFramingTest, TenRefusedFramesInARowEndTheBlock) {
  const Bytes file(DataBlock(3000, 4));
  int received = 0;
  std::thread boxThread([&] {
    // The first frame passes; its successor is refused ten times.
    for (int i = 0; i < 11; ++i) {
      auto frame = box().Receive(kDataFrameSize);
      if (!frame) return;
      ++received;
      box().Send({i == 0 ? ACK : NAK});
    }
    if (box().Receive(1, 200ms)) ++received;
  });
  EXPECT_FALSE(Section(file));
  boxThread.join();
  EXPECT_EQ(received, 11);
  EXPECT_EQ(position_, 1020);
  EXPECT_EQ(frameNumber_, 2);
}

TEST_P(DownloadFramingTest, ShortFileFailsWithoutSendingPastItsEnd) {
  Bytes file = DataBlock(3000, 5);
  file.resize(1500);
  int received = 0;
  std::thread boxThread([&] {
    while (box().Receive(kDataFrameSize, 300ms)) {
      ++received;
      box().Send({ACK});
    }
  });
  EXPECT_FALSE(Section(file));
  boxThread.join();
  EXPECT_EQ(received, 1);

  Bytes shortDescriptor = DescriptorBytes(1);
  shortDescriptor.resize(10);
  position_ = 0;
  EXPECT_FALSE(Descriptor(shortDescriptor));
  EXPECT_FALSE(box().Receive(1, 100ms));
}

TEST_P(DownloadFramingTest, OnlyTaggedBlocksAreSent) {
  const Bytes file(Joined({DescriptorBytes(1), DataBlock(100, 6)}));
  // No data block at a descriptor: nothing to send, and that is fine.
  EXPECT_TRUE(Section(file));
  position_ = kDescriptorSize;
  EXPECT_FALSE(Descriptor(file));
  EXPECT_EQ(position_, kDescriptorSize);
  EXPECT_FALSE(box().Receive(1, 100ms));
}

TEST_P(DownloadFramingTest, RefusedDescriptorLeavesThePositionAlone) {
  const Bytes file(DescriptorBytes(1));
  std::thread boxThread([&] {
    if (box().Receive(kDescriptorSize)) box().Send({NAK});
  });
  EXPECT_FALSE(Descriptor(file));
  boxThread.join();
  EXPECT_EQ(position_, 0);
}

TEST_P(DownloadFramingTest, HeaderIsResentUntilAcknowledgedThenTheVerdictCounts) {
  for (uint8_t verdict : {uint8_t(0x01), uint8_t(0x00)}) {
    int headers = 0;
    bool allSame = true;
    std::thread boxThread([&] {
      for (uint8_t answer : {NAK, NAK, STX, ACK}) {
        auto header = box().Receive(kHeaderSize);
        if (!header) return;
        ++headers;
        allSame = allSame && *header == HeaderFor({}, 2);
        SendAndAwaitRead({answer});
      }
      box().Send({STX, kCodeIdent, verdict, ETX});
    });
    EXPECT_EQ(SendHeaderBlock(port(), HeaderFor({}, 2).data()), verdict != 0);
    boxThread.join();
    EXPECT_EQ(headers, 4);
    EXPECT_TRUE(allSame);
  }
}

TEST_P(DownloadFramingTest, StopEndsAHeaderThatIsNeverAcknowledged) {
  std::thread boxThread([&] {
    for (int i = 0; i < 3; ++i) {
      if (!box().Receive(kHeaderSize)) return;
      box().Send({NAK});
    }
    port().RequestStop();
  });
  EXPECT_FALSE(SendHeaderBlock(port(), HeaderFor({}, 2).data()));
  boxThread.join();
}

VN_INSTANTIATE_OVER_RIGS(DownloadFramingTest);

TEST(DownloadFraming, OnlyTenFailedWritesInARowEndTheHeader) {
  for (int failedWrites : {9, 10}) {
    auto ports = MemoryPort::MakePair();
    // Named references rather than a structured binding: clang before 16 cannot capture those.
    std::unique_ptr<MemoryPort>& pc = ports.first;
    std::unique_ptr<MemoryPort>& box = ports.second;
    pc->FailNextWrites(failedWrites);
    // The box sees the one header that gets through and accepts it at once; the PC reads ACK
    // and verdict one after the other because the box puts the verdict in only after the ACK
    // was taken.
    std::thread boxThread([&] {
      if (!WaitUntil([&] { return box->BytesWaiting() == kHeaderSize; }, 500ms)) return;
      uint8_t header[kHeaderSize];
      box->ComReadSome(header, kHeaderSize);
      const uint8_t answer[] = {ACK};
      box->WriteRaw(answer, 1);
      if (!WaitUntil([&] { return pc->BytesWaiting() == 0; })) return;
      const uint8_t verdict[] = {STX, kCodeIdent, 0x01, ETX};
      box->WriteRaw(verdict, 4);
    });
    EXPECT_EQ(SendHeaderBlock(*pc, HeaderFor({}, 2).data()), failedWrites < 10);
    boxThread.join();
  }
}

}  // namespace
}  // namespace vn::testing

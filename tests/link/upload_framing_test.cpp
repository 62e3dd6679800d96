// The PC receiving header, descriptors and data frames from a box scripted by hand.
#include <gtest/gtest.h>

#include <cstdio>
#include <future>
#include <thread>

#include "dld/blocks.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "far_end.h"
#include "link/framing.h"
#include "support/sample_files.h"
#include "support/scratch_folder.h"

namespace vn::testing {
namespace {

Bytes Header(bool rightCrc) {
  Bytes bytes = HeaderFor({}, 1);
  if (!rightCrc) bytes[kHeaderCrcAt] ^= 0x01;
  return bytes;
}

Bytes Descriptor(bool rightCrc) {
  const FILE_PARTITION_HEADER_T descriptor = MakeDescriptor(0, 0, {}, {});
  Bytes bytes(BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
  if (!rightCrc) bytes[kDescriptorCrcAt + 3] ^= 0x80;
  return bytes;
}

Bytes Pattern(size_t count, uint8_t seed) {
  Bytes bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = uint8_t(seed + i * 31);
  return bytes;
}

Bytes Frame(uint8_t number, const Bytes& payload) {
  const DataFrame frame = BuildDataFrame(number, payload);
  return Bytes(frame.begin(), frame.end());
}

class UploadFramingTest : public RigTest {
 protected:
  void SetUp() override {
    RigTest::SetUp();
    file_ = std::fopen(path_.c_str(), "w+b");
    ASSERT_NE(file_, nullptr);
  }
  void TearDown() override {
    if (file_) std::fclose(file_);
  }
  // Receives a block of `size` bytes into `file` (the scratch file when null) from `position_` on.
  bool Section(int32_t size, std::FILE* file = nullptr) {
    return ReceiveSection(port(), file ? file : file_, position_, size, failures_);
  }
  // What the file holds so far.
  Bytes Stored() {
    std::fflush(file_);
    return ReadBytes(path_);
  }
  ScratchFolder folder_;
  const std::string path_ = folder_.File("upload.dld");
  std::FILE* file_ = nullptr;
  int64_t position_ = 0;
  int failures_ = 0;
};

TEST_P(UploadFramingTest, HeaderIsAcknowledgedAndItsCrcChecked) {
  std::thread boxThread([&] {
    box().Send(Header(true));
    EXPECT_EQ(box().Receive(1), Bytes{ACK});
  });
  Bytes header(kHeaderSize);
  EXPECT_TRUE(ReceiveHeaderBlock(port(), header.data()));
  boxThread.join();
  EXPECT_EQ(header, Header(true));

  // A wrong CRC is acknowledged first, then refused without a NAK or a further attempt.
  std::thread wrongBox([&] {
    box().Send(Header(false));
    EXPECT_EQ(box().Receive(1), Bytes{ACK});
    EXPECT_FALSE(box().Receive(1, 200ms));
  });
  EXPECT_FALSE(ReceiveHeaderBlock(port(), header.data()));
  wrongBox.join();

  // So is a header whose length field (outside the CRC) is wrong.
  Bytes wrongLength = Header(true);
  wrongLength[1] = kHeaderLength + 1;
  box().Send(wrongLength);
  EXPECT_FALSE(ReceiveHeaderBlock(port(), header.data()));
  EXPECT_EQ(box().Receive(1), Bytes{ACK});
}

TEST_P(UploadFramingTest, HeaderAttemptWithoutAWholeBlockEndsWithNak) {
  // A stray byte in front makes the header one byte too long: it is lost whole, the attempt
  // runs out and the PC asks again with NAK.
  std::thread boxThread([&] {
    Bytes withStray{0x00};
    const Bytes header = Header(true);
    withStray.insert(withStray.end(), header.begin(), header.end());
    box().Send(withStray);
    EXPECT_EQ(box().Receive(1), Bytes{NAK});
    box().Send(header);
    EXPECT_EQ(box().Receive(1), Bytes{ACK});
  });
  Bytes header(kHeaderSize);
  EXPECT_TRUE(ReceiveHeaderBlock(port(), header.data()));
  boxThread.join();
}

TEST_P(UploadFramingTest, StopEndsTheHeaderWaitAtOnce) {
  std::future<bool> result = std::async(std::launch::async, [&] {
    Bytes header(kHeaderSize);
    return ReceiveHeaderBlock(port(), header.data());
  });
  std::this_thread::sleep_for(20ms);
  port().RequestStop();
  ASSERT_EQ(result.wait_for(kHangGuard), std::future_status::ready);
  EXPECT_FALSE(result.get());
  EXPECT_FALSE(box().Receive(1, 100ms));  // no NAK from a stopped port
}

TEST_P(UploadFramingTest, ReadRequestIsResentUntilAcknowledged) {
  const UploadRegion regions[] = {{0x01, 0x40000000u, 0x10000}, {0x02, 0x40010000u, 0x400}};
  std::vector<Bytes> requests;
  std::thread boxThread([&] {
    for (uint8_t answer : {NAK, ACK}) {
      auto request = box().Receive(kReadRequestSize);
      if (!request) return;
      requests.push_back(*request);
      box().Send({answer});
    }
  });
  EXPECT_TRUE(SendReadRequest(port(), regions));
  boxThread.join();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0], requests[1]);
  const auto parsed = ParseReadRequest(requests[0].data());
  ASSERT_TRUE(parsed);
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_EQ((*parsed)[1].address, 0x40010000u);
  EXPECT_EQ((*parsed)[1].size, 0x400u);
}

TEST_P(UploadFramingTest, DescriptorNeedsItsTagLengthAndCrc) {
  Bytes descriptor(kDescriptorSize);
  box().Send(Descriptor(false));
  EXPECT_FALSE(ReceiveDescriptor(port(), descriptor.data()));
  // The CRC does not cover the length field: a wrong one would make an unreadable backup.
  Bytes wrongLength = Descriptor(true);
  wrongLength[1] = 88;
  box().Send(wrongLength);
  EXPECT_FALSE(ReceiveDescriptor(port(), descriptor.data()));
  box().Send(Descriptor(true));
  EXPECT_TRUE(ReceiveDescriptor(port(), descriptor.data()));
  EXPECT_EQ(descriptor, Descriptor(true));
}

// A block arrives as full frames and a rest; one of exactly a full payload is a single frame.
TEST_P(UploadFramingTest, BlockArrivesAsFullFramesAndARest) {
  const struct {
    int32_t size;
    int64_t start;
    std::vector<int32_t> payloads;
  } rows[] = {{2041, 97, {1020, 1020, 1}}, {1020, 0, {1020}}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.size);
    const Bytes block = Pattern(size_t(row.size), 9);
    std::vector<Bytes> answers;
    std::thread boxThread([&] {
      for (size_t i = 0; i < row.payloads.size(); ++i) {
        const auto begin = block.begin() + ptrdiff_t(i) * kFramePayloadMax;
        const Bytes payload(begin, begin + row.payloads[i]);
        box().Send(Frame(uint8_t(200 + i), payload));  // numbers are not compared with a count
        auto answer = box().Receive(1);
        if (!answer) return;
        answers.push_back(*answer);
      }
      EXPECT_FALSE(box().Receive(1, 100ms));
    });
    position_ = row.start;
    failures_ = 3;
    std::vector<int32_t> payloads;
    EXPECT_TRUE(ReceiveSection(port(), file_, position_, row.size, failures_,
                               [&](int32_t payload) { payloads.push_back(payload); }));
    boxThread.join();
    EXPECT_EQ(answers, std::vector<Bytes>(row.payloads.size(), Bytes{ACK}));
    EXPECT_EQ(payloads, row.payloads);
    EXPECT_EQ(position_, row.start + row.size);
    EXPECT_EQ(failures_, 0);
    const Bytes stored = Stored();
    ASSERT_GE(stored.size(), size_t(row.start + row.size));
    EXPECT_EQ(Bytes(stored.begin() + row.start, stored.begin() + row.start + row.size), block);
  }
}

TEST_P(UploadFramingTest, FrameWithAnUncomplementedNumberGetsNakEvenWithTheRightSum) {
  const Bytes payload = Pattern(500, 1);
  Bytes bad = Frame(5, payload);
  bad[2] = bad[1];
  ASSERT_EQ(bad[kFrameSumAt], DataFrameSum(bad.data()));
  std::thread boxThread([&] {
    box().Send(bad);
    EXPECT_EQ(box().Receive(1), Bytes{NAK});
    box().Send(Frame(5, payload));
    EXPECT_EQ(box().Receive(1), Bytes{ACK});
  });
  EXPECT_TRUE(Section(500));
  boxThread.join();
  EXPECT_EQ(Stored(), payload);
}

TEST_P(UploadFramingTest, TenBadFramesInARowEndTheBlock) {
  Bytes corrupt = Frame(1, Pattern(100, 2));
  corrupt[kFrameSumAt] ^= 0xFF;
  int naks = 0;
  std::thread boxThread([&] {
    for (int i = 0; i < 10; ++i) {
      box().Send(corrupt);
      if (box().Receive(1) == Bytes{NAK}) ++naks;
    }
  });
  EXPECT_FALSE(Section(100));
  boxThread.join();
  EXPECT_EQ(naks, 10);
  EXPECT_EQ(failures_, 10);
  EXPECT_EQ(position_, 0);
}

TEST_P(UploadFramingTest, BlockCutShortByAStopIsNoSuccess) {
  std::thread boxThread([&] {
    box().Send(Frame(1, Pattern(kFramePayloadMax, 4)));
    EXPECT_EQ(box().Receive(1), Bytes{ACK});
    port().RequestStop();
  });
  EXPECT_FALSE(Section(3000));
  boxThread.join();
  EXPECT_EQ(position_, kFramePayloadMax);
}

TEST_P(UploadFramingTest, BlockThatCannotBeWrittenIsNoSuccessAndNotAcknowledged) {
  const std::string path = folder_.Write("read-only.dld", {});
  std::FILE* readOnly = std::fopen(path.c_str(), "rb");
  ASSERT_NE(readOnly, nullptr);
  std::thread boxThread([&] {
    box().Send(Frame(1, Pattern(10, 4)));
    EXPECT_FALSE(box().Receive(1, 200ms));
  });
  EXPECT_FALSE(Section(10, readOnly));
  boxThread.join();
  std::fclose(readOnly);
}

VN_INSTANTIATE_OVER_RIGS(UploadFramingTest);

}  // namespace
}  // namespace vn::testing

// The virtual box answering uploads from its image, driven by a bare PC end.
#include <gtest/gtest.h>

#include "dld/blocks.h"
#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/lzo_codec.h"
#include "dld/region_sets.h"
#include "mini_pc.h"

namespace vn::testing {
namespace {

using namespace std::chrono_literals;

std::vector<uint8_t> ImageWithKey() {
  std::vector<uint8_t> image(kFlashSize, 0xFF);
  const auto key = SampleFlashImage(11, 0x10000);
  std::copy(key.begin(), key.end(), image.begin() + (0x40180000 - kFlashBase));
  return image;
}

struct Uploaded {
  std::vector<uint8_t> header;
  std::vector<uint8_t> descriptor;
  std::vector<uint8_t> block;
  std::vector<int> frameNumbers;
  int naks = 0;
};

// Receives one region's descriptor and block, NAKing every frame or descriptor that does not
// pass; false when a message did not come.
bool ReceiveRegion(MiniPc& pc, Uploaded& out) {
  for (;;) {
    out.descriptor = pc.Read(kDescriptorSize);
    if (out.descriptor.size() != size_t(kDescriptorSize)) return false;
    if (GetLe32(&out.descriptor[22]) == CalcCrc32(&out.descriptor[2], 20)) break;
    ++out.naks;
    pc.WriteByte(NAK);
  }
  pc.WriteByte(ACK);
  const size_t blockSize = GetLe24(&out.descriptor[14]) + kDataBlockOverhead;
  while (out.block.size() < blockSize) {
    const auto frame = pc.Read(kDataFrameSize);
    if (frame.size() != size_t(kDataFrameSize)) return false;
    if (!DataFramePasses(frame.data())) {
      ++out.naks;
      pc.WriteByte(NAK);
      continue;
    }
    out.frameNumbers.push_back(frame[1]);
    const size_t payload = std::min<size_t>(blockSize - out.block.size(), kFramePayloadMax);
    out.block.insert(out.block.end(), frame.begin() + 3, frame.begin() + 3 + payload);
    pc.WriteByte(ACK);
  }
  return true;
}

// Runs the PC's side of an upload of `regions` up to its read request's ACK.
bool AskForRegions(MiniPc& pc, std::span<const UploadRegion> regions, Uploaded& out) {
  if (!pc.Connect(kCodeUpload)) return false;
  out.header = pc.Read(kHeaderSize);
  if (out.header.size() != size_t(kHeaderSize)) return false;
  pc.WriteByte(ACK);
  pc.WriteCommand(kCodeIdent, 1);
  pc.Write(BuildReadRequest(regions));
  return pc.Read(1) == std::vector<uint8_t>{ACK};
}

// An upload of one region set.
bool RunUpload(MiniPc& pc, Operation operation, Uploaded& out) {
  return AskForRegions(pc, UploadRegionList(operation), out) && ReceiveRegion(pc, out);
}

struct UploadRun {
  bool completed = false;
  Uploaded got;
  BoxStats stats;
};

// A box holding ImageWithKey() (plus `faults`) serves one "Upload Key".
UploadRun UploadKey(BoxFaults faults = {}) {
  BoxOptions options;
  options.flash = ImageWithKey();
  options.faults = std::move(faults);
  VirtualBox box(options);
  UploadRun run;
  if (!box.Start()) return run;
  MiniPc pc(box.PtyPath());
  run.completed = RunUpload(pc, Operation::kUploadKey, run.got) && box.WaitSessions(1, 10s);
  run.stats = box.Stats();
  return run;
}

// The block's compressed bytes, expanded: the key region of the image.
void ExpectTheKeyRegion(const Uploaded& got) {
  const uint32_t r = GetLe24(&got.descriptor[14]);
  ASSERT_EQ(got.block.size(), r + kDataBlockOverhead);
  const auto expanded = LzoDecompress(std::span(got.block).subspan(4, r), 0x10000);
  ASSERT_TRUE(expanded.has_value());
  EXPECT_EQ(*expanded, RegionOfImage(ImageWithKey(), 0x40180000, 0x10000));
  EXPECT_EQ(GetLe32(&got.descriptor[10]), CalcCrc32(expanded->data(), 0x10000));
}

TEST(BoxUpload, SendsItsHeaderAndTheRegionAsAnUpgradeFileWouldHoldIt) {
  const UploadRun run = UploadKey();
  ASSERT_TRUE(run.completed);
  const Uploaded& got = run.got;

  const auto& h = got.header;
  EXPECT_EQ(h[0], kHeaderTag);
  EXPECT_EQ(GetLe16(&h[1]), uint32_t(kHeaderLength));
  EXPECT_EQ(GetLe32(&h[67]), CalcCrc32(&h[3], 64));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[4])), "VESPANODE-LAB");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&h[43]), 6), "3.1.05");

  const auto& d = got.descriptor;
  const uint32_t r = GetLe24(&d[14]);
  EXPECT_EQ(d[0], kDescriptorTag);
  EXPECT_EQ(d[1], kDescriptorLength);
  EXPECT_EQ(d[2], 0);  // the request's flag
  EXPECT_EQ(GetLe32(&d[3]), 0x40180000u);
  EXPECT_EQ(GetLe24(&d[7]), 0x10000u);
  EXPECT_EQ(d[21], PieceCountOf(r));

  const auto& b = got.block;
  EXPECT_EQ(b[0], kDataTag);
  EXPECT_EQ(GetLe24(&b[1]), r + 4);
  EXPECT_EQ(GetLe32(&b[4 + r]), CalcCrc32(&b[4], int32_t(r)));
  EXPECT_EQ(GetLe32(&d[17]), CalcCrc32(&b[4], int32_t(r)));
  ExpectTheKeyRegion(got);
  for (size_t i = 0; i < got.frameNumbers.size(); ++i) EXPECT_EQ(got.frameNumbers[i], int(i + 1));
  EXPECT_EQ(run.stats.uploadsDone, 1);
}

TEST(BoxUpload, DamagedFramesAndDescriptorsAreSentAgainAfterNak) {
  const UploadRun run =
      UploadKey({.corruptFrame = 1, .badComplementFrame = 3, .badDescriptorCrc = 1});
  ASSERT_TRUE(run.completed);
  EXPECT_EQ(run.got.naks, 3);
  ExpectTheKeyRegion(run.got);
  EXPECT_EQ(run.stats.framesResent, 2);
}

TEST(BoxUpload, ARefusedHeaderOrADamagedRequestEndsNothingButTheStep) {
  BoxOptions options;
  options.faults.badHeaderCrc = 1;
  VirtualBox box(options);
  ASSERT_TRUE(box.Start());
  MiniPc pc(box.PtyPath());
  ASSERT_TRUE(pc.Connect(kCodeUpload));
  const auto header = pc.Read(kHeaderSize);
  ASSERT_EQ(header.size(), size_t(kHeaderSize));
  EXPECT_NE(GetLe32(&header[67]), CalcCrc32(&header[3], 64));
  pc.WriteByte(ACK);
  pc.WriteCommand(kCodeIdent, 0);
  // The box is idle again and announces itself.
  ASSERT_TRUE(pc.Connect(kCodeUpload));
  ASSERT_EQ(pc.Read(kHeaderSize).size(), size_t(kHeaderSize));
  pc.WriteByte(ACK);
  pc.WriteCommand(kCodeIdent, 1);
  auto request = BuildReadRequest(UploadRegionList(Operation::kUploadKey));
  request[5] ^= 0x01;
  pc.Write(request);
  EXPECT_EQ(pc.Read(1), std::vector<uint8_t>{NAK});
  EXPECT_EQ(box.Stats().uploadsDone, 0);
}

// Any list of regions inside the flash is answered in its order, whatever the sizes and flags,
// up to the 127 a request holds; a shorter region on purpose is still a sound one.
TEST(BoxUpload, AnswersAnyRegionListInsideItsFlash) {
  struct Row {
    std::string name;
    std::vector<UploadRegion> regions;
    BoxFaults faults;
    std::vector<uint32_t> sizesSent;
  };
  std::vector<UploadRegion> many;
  for (uint32_t i = 0; i < uint32_t(kMaxRequestRegions); ++i) {
    many.push_back({uint8_t(i & 1), kFlashBase + kFlashSize - 0x1000 - i * 0x80, 0x80 + i});
  }
  const std::vector<Row> rows = {
      {"out of order, odd sizes, flags kept",
       {{1, 0x40180123, 0x2001}, {0, 0x40000000, 1}, {7, kFlashBase + kFlashSize - 0x40, 0x40}},
       {},
       {0x2001, 1, 0x40}},
      {"the most a request holds", many, {}, {}},
      {"second region cut short",
       {{0, 0x40180000, 0x10000}, {0, 0x40190000, 0x10000}},
       {.shortRegion = 2},
       {0x10000, 0x8000}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    BoxOptions options;
    options.flash = SampleFlashImage(12);
    options.faults = row.faults;
    VirtualBox box(options);
    ASSERT_TRUE(box.Start());
    MiniPc pc(box.PtyPath());
    Uploaded asked;
    ASSERT_TRUE(AskForRegions(pc, row.regions, asked));
    for (size_t i = 0; i < row.regions.size(); ++i) {
      Uploaded got;
      ASSERT_TRUE(ReceiveRegion(pc, got)) << i;
      const UploadRegion& region = row.regions[i];
      const uint32_t size = row.sizesSent.empty() ? region.size : row.sizesSent[i];
      EXPECT_EQ(got.descriptor[2], region.flag);
      EXPECT_EQ(GetLe32(&got.descriptor[3]), region.address);
      ASSERT_EQ(GetLe24(&got.descriptor[7]), size);
      const uint32_t r = GetLe24(&got.descriptor[14]);
      const auto expanded = LzoDecompress(std::span(got.block).subspan(4, r), size);
      ASSERT_TRUE(expanded.has_value());
      EXPECT_EQ(*expanded, RegionOfImage(options.flash, region.address, size));
    }
    EXPECT_TRUE(box.WaitSessions(1, 10s));
    EXPECT_EQ(box.Stats().uploadsDone, 1);
  }
}

TEST(BoxUpload, ARegionReachingPastTheFlashIsARequestItCannotAnswer) {
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  MiniPc pc(box.PtyPath());
  const std::vector<UploadRegion> past = {{0, kFlashBase + kFlashSize - 0x10, 0x11}};
  Uploaded got;
  EXPECT_FALSE(AskForRegions(pc, past, got));
  EXPECT_EQ(box.Stats().readRequests, 0);
}

}  // namespace
}  // namespace vn::testing

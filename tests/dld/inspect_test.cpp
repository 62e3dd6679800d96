#include "dld/inspect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "dld/byte_order.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "support/sample_files.h"

namespace vn {
namespace {

// Four small regions: quick to pack, enough to name "descriptor 3".
constexpr Operation kLoader = Operation::kUploadLoader;

bool Names(const InspectReport& report, const std::string& block, size_t offset) {
  return std::any_of(report.faults.begin(), report.faults.end(),
                     [&](const BlockFault& f) { return f.block == block && f.offset == offset; });
}

std::string Faults(const InspectReport& report) {
  std::string text;
  for (const BlockFault& f : report.faults) {
    text += f.block + " @" + std::to_string(f.offset) + ": " + f.what + "\n";
  }
  return text;
}

// Seals a header or a descriptor of `file` again, over whatever was changed in it.
template <typename Block>
void Reseal(std::vector<uint8_t>& file, size_t offset, void (*seal)(Block&)) {
  Block block;
  std::memcpy(&block, file.data() + offset, sizeof block);
  seal(block);
  std::memcpy(file.data() + offset, &block, sizeof block);
}

class InspectCorruption : public ::testing::Test {
 protected:
  void SetUp() override {
    sound_ = *PackUpgradeFile(RegionSetOf(kLoader), testing::SampleFlashImage(7), {});
    const InspectReport report = InspectUpgradeFile(sound_);
    ASSERT_TRUE(report.Sound()) << Faults(report);
    ASSERT_EQ(report.regions.size(), 4u);
    for (const RegionRow& row : report.regions) {
      descriptorAt_.push_back(row.descriptorOffset);
      dataAt_.push_back(row.descriptorOffset + kDescriptorSize);
    }
    file_ = sound_;
  }

  // Region numbers are 1-based, as the faults name them.
  size_t Descriptor(int region) const { return descriptorAt_[size_t(region - 1)]; }
  size_t Data(int region) const { return dataAt_[size_t(region - 1)]; }
  size_t DataEnd(int region) const { return region == 4 ? sound_.size() : Descriptor(region + 1); }

  void ExpectCaught(const std::string& block, size_t offset) {
    const InspectReport report = InspectUpgradeFile(file_);
    EXPECT_FALSE(report.Sound());
    EXPECT_TRUE(Names(report, block, offset)) << "want " << block << " @" << offset << "\n"
                                              << Faults(report);
  }
  // The sound file with one `change`: caught, and named as `block` at `offset`.
  void ExpectCaught(const std::function<void()>& change, const std::string& block, size_t offset) {
    file_ = sound_;
    change();
    ExpectCaught(block, offset);
  }

  std::vector<uint8_t> sound_, file_;
  std::vector<size_t> descriptorAt_, dataAt_;
};

TEST_F(InspectCorruption, FlippedCrcNamesItsBlock) {
  ExpectCaught([&] { file_[kHeaderCrcAt] ^= 0x01; }, "header", 0);
  ExpectCaught([&] { file_[Descriptor(3) + kDescriptorCrcAt + 2] ^= 0x80; }, "descriptor 3",
               Descriptor(3));
  ExpectCaught([&] { file_[DataEnd(3) - 1] ^= 0x10; }, "data block 3", Data(3));
  EXPECT_EQ(InspectUpgradeFile(file_).faults.size(), 1u) << "one flip, one fault";
  // A compressed byte.
  ExpectCaught([&] { file_[Data(2) + 10] ^= 0x04; }, "data block 2", Data(2));
  EXPECT_FALSE(InspectUpgradeFile(file_).regions[1].ok);
  EXPECT_TRUE(InspectUpgradeFile(file_).regions[0].ok);
}

TEST_F(InspectCorruption, WrongTagsAndLengths) {
  ExpectCaught([&] { file_[Descriptor(3)] = kDataTag; }, "descriptor 3", Descriptor(3));
  ExpectCaught([&] { file_[Data(4)] = kDescriptorTag; }, "data block 4", Data(4));
  ExpectCaught([&] { file_[0] = 0x00; }, "header", 0);
  ExpectCaught([&] { file_[1] = 0x45; }, "header", 0);  // the header's length
  // A header is known by its tag and the low byte of its length; a box may send anything in
  // byte 2, and the file it gives must still pass.
  file_ = sound_;
  file_[2] = 0x01;
  EXPECT_TRUE(InspectUpgradeFile(file_).Sound()) << Faults(InspectUpgradeFile(file_));

  ExpectCaught([&] { file_[Descriptor(1) + 1] = 25; }, "descriptor 1", Descriptor(1));
  // Shorter than its own CRC, and running far past the end.
  ExpectCaught([&] { PutLe24(file_.data() + Data(2) + 1, 3); }, "data block 2", Data(2));
  ExpectCaught([&] { PutLe24(file_.data() + Data(2) + 1, 0xFFFFFF); }, "data block 2", Data(2));
}

TEST_F(InspectCorruption, Truncation) {
  file_.resize(sound_.size() - 10);
  ExpectCaught("data block 4", Data(4));
  ExpectCaught("header", 0);  // its total size no longer holds
  ExpectCaught([&] { file_.resize(Descriptor(3) + 10); }, "descriptor 3", Descriptor(3));
  ExpectCaught([&] { file_.resize(Data(3)); }, "data block 3", Data(3));

  // Cut between regions: the walk is clean, the header's N and total size are not.
  file_ = sound_;
  file_.resize(Descriptor(3));
  const InspectReport report = InspectUpgradeFile(file_);
  EXPECT_EQ(report.regions.size(), 2u);
  EXPECT_EQ(report.faults.size(), 2u) << Faults(report);
  EXPECT_TRUE(Names(report, "header", 0));

  for (size_t size : {size_t(0), size_t(1), size_t(3), size_t(70)}) {
    ExpectCaught([&] { file_.resize(size); }, "header", 0);
  }
}

// Headers sealed again, so only the counts can see what changed.
TEST_F(InspectCorruption, HeaderCountsDisagreeWithFile) {
  const auto resealed = [&](const std::function<void()>& change) {
    return [&, change] {
      change();
      Reseal(file_, 0, SealHeader);
    };
  };
  ExpectCaught(resealed([&] { file_[52] = 3; }), "header", 0);
  ExpectCaught(resealed([&] { file_[52] = 5; }), "header", 0);
  ExpectCaught(resealed([&] { PutLe24(file_.data() + 53, uint32_t(sound_.size() + 1)); }), "header",
               0);
  // A header alone, stating no regions: it agrees with itself, but no download of it can succeed.
  file_.resize(kHeaderSize);
  file_[52] = 0;
  StampTotalSize(file_);
  ExpectCaught("header", 0);
}

TEST_F(InspectCorruption, TrailingBytes) {
  file_.insert(file_.end(), {0x22, 0x18, 0x00});
  StampTotalSize(file_);
  ExpectCaught("trailing bytes", sound_.size());
  EXPECT_EQ(InspectUpgradeFile(file_).faults.size(), 1u);
}

// Descriptors sealed again, so only the cross-checks can see what changed.
TEST_F(InspectCorruption, DescriptorDisagreesWithData) {
  const auto resealed = [&](int region, const std::function<void(uint8_t*)>& change) {
    return [&, region, change] {
      change(file_.data() + Descriptor(region));
      Reseal(file_, Descriptor(region), SealDescriptor);
    };
  };
  ExpectCaught(resealed(2, [](uint8_t* d) { d[21] += 1; }), "descriptor 2", Descriptor(2));
  // The CRC of the compressed bytes.
  ExpectCaught(resealed(2, [](uint8_t* d) { d[17] ^= 0xFF; }), "descriptor 2", Descriptor(2));
  const auto longer = [](uint8_t* d) {
    PutLe24(d + 14, GetLe24(d + 14) + 1);
    d[21] = PieceCountOf(GetLe24(d + 14));
  };
  ExpectCaught(resealed(2, longer), "descriptor 2", Descriptor(2));
  // The CRC of the uncompressed region.
  ExpectCaught(resealed(4, [](uint8_t* d) { d[10] ^= 0x01; }), "data block 4", Data(4));
}

TEST(Inspect, CompressedBytesThatDoNotExpandToTheRegion) {
  const std::vector<uint8_t> contents = testing::SampleFlashImage(3, 0x10000);
  const std::span<const uint8_t> all(contents);

  const std::vector<uint8_t> shorter = LzoCompress(all.first(all.size() - 1));
  InspectReport report = InspectUpgradeFile(testing::OneRegionFile(0x40180000, contents, shorter));
  ASSERT_EQ(report.faults.size(), 1u) << Faults(report);
  EXPECT_EQ(report.faults[0].block, "data block 1");
  EXPECT_EQ(report.faults[0].offset, size_t(kHeaderSize + kDescriptorSize));

  std::vector<uint8_t> garbage = LzoCompress(all);
  garbage.resize(garbage.size() / 2);
  report = InspectUpgradeFile(testing::OneRegionFile(0x40180000, contents, garbage));
  EXPECT_TRUE(Names(report, "data block 1", kHeaderSize + kDescriptorSize)) << Faults(report);

  report = InspectUpgradeFile(testing::OneRegionFile(0x40180000, contents, LzoCompress(all)));
  EXPECT_TRUE(report.Sound()) << Faults(report);
}

TEST(Inspect, PieceBoundary) {
  EXPECT_EQ(PieceCountOf(992), 1);
  EXPECT_EQ(PieceCountOf(993), 2);
  EXPECT_EQ(PieceCountOf(1992), 2);
  EXPECT_EQ(PieceCountOf(1993), 3);
  const std::vector<uint8_t> contents(10, 0);
  const std::vector<uint8_t> compressed992(992), compressed993(993);
  EXPECT_EQ(MakeDescriptor(0, 0, contents, compressed992).pieceCount, 1);
  EXPECT_EQ(MakeDescriptor(0, 0, contents, compressed993).pieceCount, 2);
}

// Every byte of a sound file but the header's byte 2 (never looked at) is guarded by a tag, a
// length or a CRC, so no single changed byte passes, and no prefix of the file passes either.
TEST_F(InspectCorruption, NoSingleByteChangeOrPrefixPasses) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < Data(1) + 64; ++i) {
    if (i != 2) positions.push_back(i);
  }
  for (size_t i = DataEnd(4) - 8; i < sound_.size(); ++i) positions.push_back(i);
  for (size_t at : positions) {
    file_ = sound_;
    file_[at] ^= 0x01;
    EXPECT_FALSE(InspectUpgradeFile(file_).Sound()) << "byte " << at;
  }
  for (size_t size = 0; size < sound_.size(); size += 97) {
    EXPECT_FALSE(InspectUpgradeFile(std::span(sound_).first(size)).Sound()) << size;
  }
}

// A region larger than the flash is reported, not expanded: a crafted file of many such regions
// would otherwise keep inspect (and the check before a download) busy for minutes.
TEST_F(InspectCorruption, RegionLargerThanTheFlashIsNotExpanded) {
  auto* descriptor = reinterpret_cast<FILE_PARTITION_HEADER_T*>(&file_[Descriptor(2)]);
  PutLe24(descriptor->regionSize, 0x300000);
  SealDescriptor(*descriptor);
  ExpectCaught("descriptor 2", Descriptor(2));
  EXPECT_NE(Faults(InspectUpgradeFile(file_)).find("exceeds"), std::string::npos);
}

}  // namespace
}  // namespace vn

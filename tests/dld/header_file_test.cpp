#include "dld/header_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "dld/byte_order.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "support/sample_files.h"

namespace vn {
namespace {

class HeaderFile : public ::testing::Test {
 protected:
  // A "Upload Key" file as an upload leaves it: total size still zero, header CRC stale.
  std::vector<uint8_t> FreshUpload() {
    auto file = PackUpgradeFile(RegionSetOf(Operation::kUploadKey), testing::SampleFlashImage(1),
                                {0, "MAKER", "HWM", "1.0", "SWM", "2.0"});
    EXPECT_TRUE(file.has_value());
    PutLe24(file->data() + 53, 0);
    return *file;
  }

  FILE_DOWNLOAD_HEADER_T Loaded(const std::string& path) {
    FILE_DOWNLOAD_HEADER_T header{};
    EXPECT_TRUE(ReadDownloadHeader(path, header));
    return header;
  }

  testing::ScratchFolder folder_;
};

TEST_F(HeaderFile, ShortOrMissingFileLeavesHeaderUnchanged) {
  std::vector<uint8_t> file = FreshUpload();
  file.resize(70);
  const std::string path = folder_.Write("short.dld", file);
  FILE_DOWNLOAD_HEADER_T header{};
  header.tag = 0x5A;
  EXPECT_FALSE(ReadDownloadHeader(path, header));
  EXPECT_FALSE(ReadDownloadHeader(folder_.File("missing.dld"), header));
  EXPECT_EQ(header.tag, 0x5A);

  // The same from bytes already read.
  EXPECT_FALSE(ReadDownloadHeader(std::span<const uint8_t>(file), header));
  EXPECT_EQ(header.tag, 0x5A);
  file = FreshUpload();
  EXPECT_TRUE(ReadDownloadHeader(std::span<const uint8_t>(file), header));
  EXPECT_EQ(std::memcmp(BytesOf(header), file.data(), kHeaderSize), 0);
}

TEST_F(HeaderFile, TotalSizeCompletesFreshUpload) {
  const std::vector<uint8_t> file = FreshUpload();
  const std::string path = folder_.Write("key.dld", file);

  // The upload passes the header it has just read; a cleared one is read from the file.
  for (bool cleared : {false, true}) {
    FILE_DOWNLOAD_HEADER_T header = cleared ? FILE_DOWNLOAD_HEADER_T{} : Loaded(path);
    Failure failure{.systemCode = -1};
    ASSERT_TRUE(WriteTotalSize(path, header, failure));
    EXPECT_EQ(failure.systemCode, 0);
    const FILE_DOWNLOAD_HEADER_T written = Loaded(path);
    EXPECT_EQ(GetLe24(written.totalSize), file.size());
    EXPECT_TRUE(HeaderCrcMatches(written));
    EXPECT_EQ(std::memcmp(&written, &header, kHeaderSize), 0);
    // Nothing but the header changes.
    const std::vector<uint8_t> after = testing::ReadBytes(path);
    ASSERT_EQ(after.size(), file.size());
    EXPECT_TRUE(std::equal(after.begin() + kHeaderSize, after.end(), file.begin() + kHeaderSize));
  }
}

TEST_F(HeaderFile, InvalidHeaderIsNeverWritten) {
  std::vector<uint8_t> file = FreshUpload();
  file[0] = 0x12;
  const std::string path = folder_.Write("bad.dld", file);
  FILE_DOWNLOAD_HEADER_T header{};
  Failure failure{.systemCode = -1};
  EXPECT_FALSE(WriteTotalSize(path, header, failure));
  EXPECT_EQ(failure.systemCode, 0);
  EXPECT_EQ(failure.kind, FailureKind::kDamaged);
  EXPECT_EQ(testing::ReadBytes(path), file);
}

TEST_F(HeaderFile, MissingFileReportsErrno) {
  FILE_DOWNLOAD_HEADER_T header{};
  header.tag = kHeaderTag;
  header.length[0] = kHeaderLength;
  Failure failure;
  EXPECT_FALSE(WriteTotalSize(folder_.File("missing.dld"), header, failure));
  EXPECT_EQ(failure.systemCode, ENOENT);
  EXPECT_EQ(failure.kind, FailureKind::kNotFound);
}

}  // namespace
}  // namespace vn

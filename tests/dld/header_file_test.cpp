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

namespace vn {
namespace {

// Whether a box takes a file, as the box judges it and as identify --file reports it: the same
// five texts NUL-padded to their widths, or a file that asks for no check.
TEST(FileFitsBox, ComparesEachIdentityTextWithItsPadding) {
  const FILE_DOWNLOAD_HEADER_T box = *MakeHeader(LabBoxIdentity(), 0, 0);
  struct Row {
    const char* name;
    void (*change)(FILE_DOWNLOAD_HEADER_T&);
    bool fits;
    std::vector<std::string> differing;
  };
  const Row rows[] = {
      {"the same", [](FILE_DOWNLOAD_HEADER_T&) {}, true, {}},
      {"kind, count and size are no identity",
       [](FILE_DOWNLOAD_HEADER_T& h) {
         h.partitionKind = 3;
         h.partitionCount = 9;
         h.totalSize[0] = 1;
       },
       true,
       {}},
      {"a longer version",
       [](FILE_DOWNLOAD_HEADER_T& h) { h.softwareVersion[6] = '1'; },
       false,
       {"software version"}},
      {"junk behind the NUL",
       [](FILE_DOWNLOAD_HEADER_T& h) { h.hardwareModule[7] = 'x'; },
       false,
       {"hardware module"}},
      {"two texts",
       [](FILE_DOWNLOAD_HEADER_T& h) {
         h.manufactureIdent[0] = 'W';
         h.hardwareVersion[0] = '2';
       },
       false,
       {"manufacture ident", "hardware version"}},
      {"no check asked, texts differing",
       [](FILE_DOWNLOAD_HEADER_T& h) {
         h.identForNocheck = 1;
         h.hardwareVersion[0] = '2';
       },
       true,
       {"hardware version"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FILE_DOWNLOAD_HEADER_T file = box;
    row.change(file);
    std::vector<std::string> differing;
    EXPECT_EQ(FileFitsBox(file, box, &differing), row.fits);
    EXPECT_EQ(differing, row.differing);
  }
}

}  // namespace
}  // namespace vn

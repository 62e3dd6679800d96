// A file's SHA-256 against published digests, and a file that is not there.
#include <gtest/gtest.h>

#include "link/platform/file_digest.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

TEST(FileDigest, MatchesKnownDigestsAndNamesAMissingFile) {
  ScratchFolder folder;
  std::string digest, why;
  ASSERT_TRUE(FileSha256(folder.Write("abc", {'a', 'b', 'c'}), digest, why)) << why;
  EXPECT_EQ(digest, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

  // A million 'a's span many reads: every piece must go into the digest once, in order.
  const std::string many = folder.Write("many", std::vector<uint8_t>(1'000'000, 'a'));
  ASSERT_TRUE(FileSha256(many, digest, why)) << why;
  EXPECT_EQ(digest, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");

  EXPECT_FALSE(FileSha256(folder.File("missing"), digest, why));
  EXPECT_EQ(digest, "");
  EXPECT_FALSE(why.empty());
}

}  // namespace
}  // namespace vn::testing

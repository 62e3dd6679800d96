// A file's SHA-256 and that of the same bytes in memory against published digests, and a file
// that is not there.
#include <gtest/gtest.h>

#include "platform/file_digest.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

TEST(FileDigest, MatchesKnownDigestsAndNamesAMissingFile) {
  ScratchFolder folder;
  std::string digest;
  Failure failure;
  // A million 'a's span many reads: every piece must go into the digest once, in order.
  const std::pair<std::vector<uint8_t>, const char*> known[] = {
      {{}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {{'a', 'b', 'c'}, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::vector<uint8_t>(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto& [bytes, expected] : known) {
    ASSERT_TRUE(FileSha256(folder.Write("bytes", bytes), digest, failure)) << FailureText(failure);
    EXPECT_EQ(digest, expected);
    ASSERT_TRUE(BufferSha256(bytes, digest, failure)) << FailureText(failure);
    EXPECT_EQ(digest, expected);
  }

  EXPECT_FALSE(FileSha256(folder.File("missing"), digest, failure));
  EXPECT_EQ(digest, "");
  EXPECT_EQ(failure.kind, FailureKind::kNotFound);
  EXPECT_FALSE(FailureText(failure).empty());
}

}  // namespace
}  // namespace vn::testing

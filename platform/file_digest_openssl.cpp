#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_digest.h"
#include "platform/text_format.h"

namespace vn {
namespace {

constexpr size_t kChunk = 64 * 1024;

// One SHA-256 computation, fed piece by piece, freed however the digest ends.
class Sha256 {
 public:
  bool Start(Failure& failure) {
    if (context_ && EVP_DigestInit_ex(context_.get(), EVP_sha256(), nullptr) == 1) return true;
    failure = FailureSaying(FailureKind::kOther, "the SHA-256 digest is not available");
    return false;
  }

  bool Add(const void* bytes, size_t count, Failure& failure) {
    if (EVP_DigestUpdate(context_.get(), bytes, count) == 1) return true;
    failure = FailureSaying(FailureKind::kOther, "the SHA-256 digest failed");
    return false;
  }

  bool Finish(std::string& hexDigest, Failure& failure) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned length = 0;
    if (EVP_DigestFinal_ex(context_.get(), digest, &length) != 1) {
      failure = FailureSaying(FailureKind::kOther, "the SHA-256 digest failed");
      return false;
    }
    hexDigest = HexBytes(std::span<const uint8_t>(digest, length));
    return true;
  }

 private:
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context_{EVP_MD_CTX_new(),
                                                                   &EVP_MD_CTX_free};
};

// Feeds the whole file to the digest.
bool DigestFile(int fd, Sha256& sha, Failure& failure) {
  std::vector<unsigned char> chunk(kChunk);
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = FailureOfErrno(errno);
      return false;
    }
    if (got == 0) return true;
    if (!sha.Add(chunk.data(), size_t(got), failure)) return false;
  }
}

}  // namespace

bool FileSha256(const std::string& path, std::string& hexDigest, Failure& failure) {
  hexDigest.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    failure = FailureOfErrno(errno);
    return false;
  }
  Sha256 sha;
  std::string digest;
  const bool ok = sha.Start(failure) && DigestFile(fd, sha, failure) && sha.Finish(digest, failure);
  ::close(fd);
  if (ok) hexDigest = digest;
  return ok;
}

bool BufferSha256(std::span<const uint8_t> bytes, std::string& hexDigest, Failure& failure) {
  hexDigest.clear();
  Sha256 sha;
  std::string digest;
  if (!sha.Start(failure) || !sha.Add(bytes.data(), bytes.size(), failure) ||
      !sha.Finish(digest, failure)) {
    return false;
  }
  hexDigest = digest;
  return true;
}

}  // namespace vn

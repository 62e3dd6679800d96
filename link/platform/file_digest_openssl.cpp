#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "link/platform/file_digest.h"

namespace vn {
namespace {

constexpr size_t kChunk = 64 * 1024;

using DigestContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

std::string Hex(const unsigned char* bytes, unsigned length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

// Feeds the whole file to the digest; false with errno set when a read fails.
bool DigestFile(int fd, EVP_MD_CTX* context) {
  std::vector<unsigned char> chunk(kChunk);
  for (;;) {
    const ssize_t got = ::read(fd, chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) return true;
    if (EVP_DigestUpdate(context, chunk.data(), size_t(got)) != 1) {
      errno = EIO;
      return false;
    }
  }
}

}  // namespace

bool FileSha256(const std::string& path, std::string& hexDigest, std::string& why) {
  hexDigest.clear();
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    why = std::strerror(errno);
    return false;
  }
  DigestContext context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned length = 0;
  bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
  if (!ok) {
    why = "the SHA-256 digest is not available";
  } else if (!DigestFile(fd, context.get())) {
    ok = false;
    why = std::strerror(errno);
  } else if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) {
    ok = false;
    why = "the SHA-256 digest failed";
  }
  ::close(fd);
  if (ok) hexDigest = Hex(digest, length);
  return ok;
}

}  // namespace vn

#include <windows.h>
// windows.h first: bcrypt.h builds on its types.
#include <bcrypt.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/file_digest.h"
#include "platform/system_message_win32.h"
#include "platform/text_format.h"

namespace vn {
namespace {

constexpr DWORD kChunk = 64 * 1024;

std::string StatusMessage(const char* step, NTSTATUS status) {
  char text[64];
  std::snprintf(text, sizeof text, "%s failed (status 0x%08lX)", step, (unsigned long)status);
  return text;
}

// The algorithm provider and one hash object, closed again however the digest ends.
class Sha256 {
 public:
  Sha256() = default;
  ~Sha256() {
    if (hash_) BCryptDestroyHash(hash_);
    if (algorithm_) BCryptCloseAlgorithmProvider(algorithm_, 0);
  }
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  bool Start(Failure& failure) {
    NTSTATUS status = BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) {
      algorithm_ = nullptr;
      failure =
          FailureSaying(FailureKind::kOther, StatusMessage("BCryptOpenAlgorithmProvider", status));
      return false;
    }
    status = BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0);
    if (!BCRYPT_SUCCESS(status)) {
      hash_ = nullptr;
      failure = FailureSaying(FailureKind::kOther, StatusMessage("BCryptCreateHash", status));
      return false;
    }
    return true;
  }

  bool Add(const UCHAR* bytes, ULONG count, Failure& failure) {
    const NTSTATUS status = BCryptHashData(hash_, const_cast<PUCHAR>(bytes), count, 0);
    if (BCRYPT_SUCCESS(status)) return true;
    failure = FailureSaying(FailureKind::kOther, StatusMessage("BCryptHashData", status));
    return false;
  }

  bool Finish(std::string& hexDigest, Failure& failure) {
    std::vector<UCHAR> digest(32);
    const NTSTATUS status = BCryptFinishHash(hash_, digest.data(), ULONG(digest.size()), 0);
    if (!BCRYPT_SUCCESS(status)) {
      failure = FailureSaying(FailureKind::kOther, StatusMessage("BCryptFinishHash", status));
      return false;
    }
    hexDigest = HexBytes(digest);
    return true;
  }

 private:
  BCRYPT_ALG_HANDLE algorithm_ = nullptr;
  BCRYPT_HASH_HANDLE hash_ = nullptr;
};

bool DigestFile(HANDLE file, Sha256& sha, Failure& failure) {
  std::vector<UCHAR> chunk(kChunk);
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk.data(), kChunk, &got, nullptr)) {
      failure = FailureOfSystemError(GetLastError());
      return false;
    }
    if (got == 0) return true;
    if (!sha.Add(chunk.data(), got, failure)) return false;
  }
}

}  // namespace

bool FileSha256(const std::string& path, std::string& hexDigest, Failure& failure) {
  hexDigest.clear();
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = FailureOfSystemError(GetLastError());
    return false;
  }
  Sha256 sha;
  std::string digest;
  const bool ok =
      sha.Start(failure) && DigestFile(file, sha, failure) && sha.Finish(digest, failure);
  CloseHandle(file);
  if (ok) hexDigest = digest;
  return ok;
}

bool BufferSha256(std::span<const uint8_t> bytes, std::string& hexDigest, Failure& failure) {
  hexDigest.clear();
  Sha256 sha;
  if (!sha.Start(failure)) return false;
  // BCryptHashData takes a ULONG count: larger buffers go in pieces.
  for (size_t at = 0; at < bytes.size(); at += kChunk) {
    const size_t count = std::min<size_t>(kChunk, bytes.size() - at);
    if (!sha.Add(bytes.data() + at, ULONG(count), failure)) return false;
  }
  std::string digest;
  if (!sha.Finish(digest, failure)) return false;
  hexDigest = digest;
  return true;
}

}  // namespace vn

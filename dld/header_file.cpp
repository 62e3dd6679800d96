#include "dld/header_file.h"

#include <cerrno>
#include <cstring>

#include "dld/byte_order.h"
#include "dld/file_at.h"

namespace vn {
namespace {

constexpr int kTotalSizeAt = 53;
constexpr uint32_t kTotalSizeMask = 0xFFFFFF;

}  // namespace

bool ReadDownloadHeader(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header) {
  UniqueFile file = OpenRegularFile(fileName);
  FILE_DOWNLOAD_HEADER_T loaded;
  if (!ReadFileAt(file.get(), 0, BytesOf(loaded), sizeof loaded)) return false;
  header = loaded;
  return true;
}

bool ReadDownloadHeader(std::span<const uint8_t> file, FILE_DOWNLOAD_HEADER_T& header) {
  if (file.size() < sizeof header) return false;
  std::memcpy(BytesOf(header), file.data(), sizeof header);
  return true;
}

bool WriteTotalSize(std::FILE* file, const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header,
                    Failure& failure) {
  failure = {};
  if (FILE_DOWNLOAD_HEADER_T loaded;
      !HeaderIsValid(header) && ReadFileAt(file, 0, BytesOf(loaded), sizeof loaded)) {
    header = loaded;
  }
  // The size is taken from the open file, so it is the size of the very file rewritten below.
  const int64_t size = FileSizeOf(file);
  if (size < 0) {
    failure = FailureOfErrno(errno, "cannot write", fileName);
    return false;
  }
  PutLe24(BytesOf(header) + kTotalSizeAt, uint32_t(size) & kTotalSizeMask);
  if (!HeaderIsValid(header)) {
    failure = FailureSaying(FailureKind::kDamaged, "holds no valid download header", fileName);
    return false;
  }
  SealHeader(header);
  if (!WriteFileAt(file, 0, BytesOf(header), sizeof header)) {
    failure = FailureOfErrno(errno, "cannot write", fileName);
    return false;
  }
  return true;
}

bool WriteTotalSize(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header, Failure& failure) {
  UniqueFile file(std::fopen(fileName.c_str(), "r+b"));
  if (!file) {
    failure = FailureOfErrno(errno, "cannot write", fileName);
    return false;
  }
  if (!WriteTotalSize(file.get(), fileName, header, failure)) return false;
  // Closed here so that a write the system could not complete is seen.
  if (std::fclose(file.release()) != 0) {
    failure = FailureOfErrno(errno, "cannot write", fileName);
    return false;
  }
  return true;
}

}  // namespace vn

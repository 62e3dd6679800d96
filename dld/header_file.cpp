#include "dld/header_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dld/byte_order.h"

namespace vn {
namespace {

constexpr int kPartitionCountAt = 52;
constexpr int kTotalSizeAt = 53;
constexpr uint32_t kTotalSizeMask = 0xFFFFFF;

// Closes the descriptor on every path out of the operations below.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  // Closes now so that a failing close (a write the system could not complete) is seen.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

int OpenFile(const std::string& fileName, int flags) {
  int fd;
  do {
    fd = ::open(fileName.c_str(), flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Reads exactly `count` bytes at `offset`; false on a short file or a read error.
bool ReadExactAt(int fd, off_t offset, uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, buffer + done, count - done, offset + off_t(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += size_t(got);
  }
  return true;
}

bool WriteExactAt(int fd, off_t offset, const uint8_t* buffer, size_t count) {
  size_t done = 0;
  while (done < count) {
    const ssize_t put = ::pwrite(fd, buffer + done, count - done, offset + off_t(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += size_t(put);
  }
  return true;
}

void SetError(int* osError, int value) {
  if (osError) *osError = value;
}

}  // namespace

bool ReadDownloadHeader(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header) {
  FileDescriptor file(OpenFile(fileName, O_RDONLY));
  if (!file.ok()) return false;
  FILE_DOWNLOAD_HEADER_T loaded;
  if (!ReadExactAt(file.get(), 0, BytesOf(loaded), sizeof loaded)) return false;
  header = loaded;
  return true;
}

int ReadPartitionCount(const std::string& fileName) {
  FileDescriptor file(OpenFile(fileName, O_RDONLY));
  if (!file.ok()) return 0;
  uint8_t count = 0;
  if (!ReadExactAt(file.get(), kPartitionCountAt, &count, 1)) return 0;
  return count;
}

bool WriteTotalSize(const std::string& fileName, FILE_DOWNLOAD_HEADER_T& header, int* osError) {
  SetError(osError, 0);
  if (!HeaderIsValid(header)) ReadDownloadHeader(fileName, header);

  FileDescriptor file(OpenFile(fileName, O_RDWR));
  if (!file.ok()) {
    SetError(osError, errno);
    return false;
  }
  // The size is taken from the open file, so it is the size of the very file rewritten below.
  struct stat info;
  if (::fstat(file.get(), &info) != 0) {
    SetError(osError, errno);
    return false;
  }
  PutLe24(BytesOf(header) + kTotalSizeAt, uint32_t(info.st_size) & kTotalSizeMask);
  if (!HeaderIsValid(header)) return false;

  SealHeader(header);
  if (!WriteExactAt(file.get(), 0, BytesOf(header), sizeof header)) {
    SetError(osError, errno);
    return false;
  }
  if (!file.Close()) {
    SetError(osError, errno);
    return false;
  }
  return true;
}

}  // namespace vn

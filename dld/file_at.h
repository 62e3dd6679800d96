#pragma once
// Positioned reads and writes of an open upgrade file, and a handle that closes it on every path.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace vn {

struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file) std::fclose(file);
  }
};
using UniqueFile = std::unique_ptr<std::FILE, FileCloser>;

// Opens an existing regular file for reading; null for anything else. Opening a FIFO would wait
// for a writer without end, and a folder or a device holds no upgrade file.
UniqueFile OpenRegularFile(const std::string& path);

// The file's size in bytes; -1 when it cannot be taken.
int64_t FileSizeOf(std::FILE* file);

// Exactly `count` bytes from `position` on; false on a bad position or a file too short.
bool ReadFileAt(std::FILE* file, int64_t position, uint8_t* destination, size_t count);
// All `count` bytes at `position`, flushed to the system; false when any step fails.
bool WriteFileAt(std::FILE* file, int64_t position, const uint8_t* bytes, size_t count);

}  // namespace vn

#include <windows.h>

#include <algorithm>
#include <random>

#include "platform/atomic_file.h"
#include "platform/system_message_win32.h"

namespace vn {
namespace {

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? "." : path.substr(0, slash + (slash == 0 ? 1 : 0));
}

HANDLE CreateTemporary(const std::string& path, std::string& tempPath) {
  std::random_device seed;
  std::mt19937 generator(seed());
  for (int attempt = 0; attempt < 16; ++attempt) {
    tempPath = path + ".tmp" + std::to_string(generator() % 1000000);
    const HANDLE file = CreateFileA(tempPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  }
  return INVALID_HANDLE_VALUE;
}

bool WriteAll(HANDLE file, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &put, nullptr) || put == 0) return false;
    done += put;
  }
  return true;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                           Failure& failure) {
  std::string tempPath;
  const HANDLE file = CreateTemporary(path, tempPath);
  if (file == INVALID_HANDLE_VALUE) {
    failure = FailureOfSystemError(GetLastError(), "cannot write in folder", FolderOf(path));
    return false;
  }
  bool ok = WriteAll(file, bytes) && FlushFileBuffers(file);
  DWORD code = GetLastError();
  CloseHandle(file);
  // A read-only target stays read-only: its attributes go to the new file.
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (ok && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    SetFileAttributesA(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
  }
  if (ok && !MoveFileExA(tempPath.c_str(), path.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ok = false;
    code = GetLastError();
    if (attributes != INVALID_FILE_ATTRIBUTES) SetFileAttributesA(path.c_str(), attributes);
  } else if (ok && attributes != INVALID_FILE_ATTRIBUTES) {
    SetFileAttributesA(path.c_str(), attributes);
  }
  if (!ok) {
    DeleteFileA(tempPath.c_str());
    failure = FailureOfSystemError(code, "cannot write", path);
  }
  return ok;
}

}  // namespace vn

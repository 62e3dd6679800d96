#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <filesystem>

#include "platform/file_system.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

// The errno value closest to a Win32 error, for the texts the tool shows.
int ErrnoOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    default:
      return EIO;
  }
}

bool Fail() {
  errno = ErrnoOf(GetLastError());
  return false;
}

}  // namespace

std::FILE* CreateExclusiveFile(const std::string& path, int /*mode*/) {
  // A link planted under the name is removed, never followed.
  if (!DeleteFileA(path.c_str()) && GetLastError() != ERROR_FILE_NOT_FOUND) {
    Fail();
    return nullptr;
  }
  // Shared for deletion alone: an upload renames its finished file while it still holds it open,
  // so that nothing else can be put under the name in between.
  const HANDLE handle =
      CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail();
    return nullptr;
  }
  const int fd = _open_osfhandle(intptr_t(handle), _O_RDWR | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    DeleteFileA(path.c_str());
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "w+b");
  if (!file) {
    _close(fd);
    DeleteFileA(path.c_str());
  }
  return file;
}

bool SyncFileToDisk(const std::string& path) {
  const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Fail();
  const bool flushed = FlushFileBuffers(handle) != 0;
  const DWORD error = GetLastError();
  CloseHandle(handle);
  if (!flushed) {
    errno = ErrnoOf(error);
    return false;
  }
  return true;
}

// Windows replaces no read-only file, so the only permission there is to take is the default.
bool RenameWithoutReplacing(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_WRITE_THROUGH)) return Fail();
  return true;
}

bool SyncOpenFile(std::FILE* file) {
  return std::fflush(file) == 0 && _commit(_fileno(file)) == 0;
}

// Only the POSIX systems look: a file the tool holds open is not renamed away so lightly here.
bool NameHoldsOpenFile(const std::string&, std::FILE*) {
  return true;
}

bool RenameOver(const std::string& from, const std::string& to) {
  if (!MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return Fail();
  }
  return true;
}

int CannotWriteReason(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
  }
  const std::filesystem::path parent = Utf8Path(path).parent_path();
  const std::string folder = parent.empty() ? std::string(".") : Utf8OfPath(parent);
  const DWORD folderAttributes = GetFileAttributesA(folder.c_str());
  if (folderAttributes == INVALID_FILE_ATTRIBUTES) return ErrnoOf(GetLastError());
  if (!(folderAttributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
  return 0;
}

bool IsForeignLink(const std::string&, std::string&) {
  return false;
}

}  // namespace vn

#include <windows.h>

#include <algorithm>

#include "link/platform/append_line.h"
#include "link/platform/system_message_win32.h"

namespace vn {
namespace {

// Every write goes to the end of the file as it is at that moment, as O_APPEND does.
bool WriteWhole(HANDLE file, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    OVERLAPPED atEnd = {};
    atEnd.Offset = 0xFFFFFFFF;
    atEnd.OffsetHigh = 0xFFFFFFFF;
    const DWORD chunk = DWORD(std::min<size_t>(bytes.size() - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(file, bytes.data() + done, chunk, &put, &atEnd)) return false;
    if (put == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += put;
  }
  return true;
}

}  // namespace

bool AppendWholeLine(const std::string& path, const std::string& line, std::string& why) {
  // LockFileEx wants read or write access to the data besides the right to append.
  const HANDLE file = CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    why = SystemMessage(GetLastError());
    return false;
  }
  // The whole possible range, so that every other appender waits here, whatever the file's size.
  OVERLAPPED whole = {};
  const bool locked = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  bool ok = locked && WriteWhole(file, line + "\n");
  DWORD code = GetLastError();
  if (locked) UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  if (!CloseHandle(file) && ok) {
    ok = false;
    code = GetLastError();
  }
  if (!ok) why = SystemMessage(code);
  return ok;
}

}  // namespace vn

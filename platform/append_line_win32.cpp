#include <windows.h>

#include <algorithm>

#include "platform/append_line.h"
#include "platform/file_kind.h"
#include "platform/lock_wait.h"
#include "platform/system_message_win32.h"

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

bool IsLink(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION information = {};
  return GetFileInformationByHandle(file, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

HANDLE OpenForAppend(const std::string& path, Failure& failure,
                     AppendLinks links = AppendLinks::kFollow) {
  if (const std::string kind = NonFileProblem(path); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind);
    return INVALID_HANDLE_VALUE;
  }
  // LockFileEx wants read or write access to the data besides the right to append; writing the
  // size back after a failed write wants FILE_WRITE_DATA.
  const HANDLE file = CreateFileA(
      path.c_str(), FILE_READ_DATA | FILE_WRITE_DATA | FILE_APPEND_DATA | SYNCHRONIZE,
      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | (links == AppendLinks::kRefuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0),
      nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    failure = FailureOfSystemError(GetLastError());
    return file;
  }
  if (links == AppendLinks::kRefuse && IsLink(file)) {
    failure = FailureSaying(FailureKind::kWrongKind, "is a link, which is not followed");
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  if (GetFileType(file) != FILE_TYPE_DISK) {
    failure = FailureSaying(FailureKind::kWrongKind, "is not a regular file");
    CloseHandle(file);
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// The whole possible range, so that every other appender waits, whatever the file's size.
bool LockWithin(HANDLE file, OVERLAPPED& whole, const std::atomic<bool>* stop, Failure& failure) {
  const auto tryLock = [file, &whole](Failure& refused) {
    whole = {};
    if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD,
                   &whole)) {
      return LockTry::kHeld;
    }
    const DWORD code = GetLastError();
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return LockTry::kBusy;
    refused = FailureOfSystemError(code);
    return LockTry::kFailed;
  };
  return WaitForLock(tryLock, kAppendLockWait, stop, failure);
}

}  // namespace

bool AppendWholeLine(const std::string& path, const std::string& line, Failure& failure,
                     const std::atomic<bool>* stop, AppendLinks links) {
  const HANDLE file = OpenForAppend(path, failure, links);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole = {};
  if (!LockWithin(file, whole, stop, failure)) {
    CloseHandle(file);
    return false;
  }
  LARGE_INTEGER before = {};
  const bool sized = GetFileSizeEx(file, &before);
  bool ok = WriteWhole(file, line + "\n");
  if (!ok) {
    failure = FailureOfSystemError(GetLastError());
    // Half a line would glue the next record onto it: the file goes back to its whole lines.
    if (!sized || !SetFilePointerEx(file, before, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) {
      failure.systemMessage += "; part of the line stays in the file";
    }
  }
  UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  if (!CloseHandle(file) && ok) {
    ok = false;
    failure = FailureOfSystemError(GetLastError());
  }
  return ok;
}

bool CanAppendLines(const std::string& path, Failure& failure, const std::atomic<bool>* stop) {
  const HANDLE file = OpenForAppend(path, failure);
  if (file == INVALID_HANDLE_VALUE) return false;
  OVERLAPPED whole = {};
  const bool locked = LockWithin(file, whole, stop, failure);
  if (locked) UnlockFileEx(file, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(file);
  return locked;
}

}  // namespace vn

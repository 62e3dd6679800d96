#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/append_line.h"
#include "platform/file_kind.h"
#include "platform/lock_wait.h"

namespace vn {
namespace {

// O_APPEND alone makes each write() land at the end, but a large line may be written in more
// than one piece, and another writer's piece could fall in between: the lock keeps them apart.
bool WriteWhole(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    if (put == 0) {
      errno = EIO;
      return false;
    }
    done += size_t(put);
  }
  return true;
}

// The kind is looked at before the open, and the open itself never waits: a FIFO without a
// reader fails at once instead of blocking, and a device or a FIFO is never written.
int OpenForAppend(const std::string& path, Failure& failure,
                  AppendLinks links = AppendLinks::kFollow) {
  if (const std::string kind = NonFileProblem(path); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind);
    return -1;
  }
  // The links followed here and checked above, never one put in their place since.
  const int fd =
      ::open((links == AppendLinks::kFollow ? FollowLinks(path) : path).c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW, 0644);
  if (fd < 0 && errno == ELOOP && links == AppendLinks::kRefuse) {
    failure = FailureSaying(FailureKind::kWrongKind, "is a link, which is not followed");
    return -1;
  }
  if (fd < 0) {
    failure = FailureOfErrno(errno);
    return -1;
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    failure = FailureSaying(FailureKind::kWrongKind, "is not a regular file");
  } else if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) {
    // Root may write any file: a record made read-only is kept by its mode, as for everyone.
    failure = FailureOfErrno(EACCES);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

// Another program holding the lock for long (or for ever) costs the line, never the run.
bool LockWithin(int fd, const std::atomic<bool>* stop, Failure& failure) {
  const auto tryLock = [fd](Failure& refused) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return LockTry::kHeld;
    if (errno == EWOULDBLOCK || errno == EINTR) return LockTry::kBusy;
    refused = FailureOfErrno(errno);
    return LockTry::kFailed;
  };
  return WaitForLock(tryLock, kAppendLockWait, stop, failure);
}

// Closing releases the lock; a failed close may mean the bytes never reached the file.
bool CloseReporting(int fd, bool ok, Failure& failure) {
  if (::close(fd) != 0 && ok) {
    failure = FailureOfErrno(errno);
    return false;
  }
  return ok;
}

}  // namespace

bool AppendWholeLine(const std::string& path, const std::string& line, Failure& failure,
                     const std::atomic<bool>* stop, AppendLinks links) {
  const int fd = OpenForAppend(path, failure, links);
  if (fd < 0) return false;
  if (!LockWithin(fd, stop, failure)) return CloseReporting(fd, false, failure);
  struct stat before;
  const bool sized = ::fstat(fd, &before) == 0;
  if (WriteWhole(fd, line + "\n")) return CloseReporting(fd, true, failure);
  failure = FailureOfErrno(errno);
  // Half a line would glue the next record onto it: the file goes back to its whole lines.
  if (!sized || ::ftruncate(fd, before.st_size) != 0)
    failure.systemMessage += "; part of the line stays in the file";
  return CloseReporting(fd, false, failure);
}

bool CanAppendLines(const std::string& path, Failure& failure, const std::atomic<bool>* stop) {
  const int fd = OpenForAppend(path, failure);
  if (fd < 0) return false;
  return CloseReporting(fd, LockWithin(fd, stop, failure), failure);
}

}  // namespace vn

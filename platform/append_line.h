#pragma once
// Adding one line to a log that several programs, and several threads in each, write at once.
#include <atomic>
#include <chrono>
#include <string>

#include "platform/failure.h"

namespace vn {

// How long an append waits for another program's lock before it gives up on the line.
inline constexpr std::chrono::seconds kAppendLockWait{5};

// Whether a link at the path is followed to the file it names, or refused (a file of the
// program's own, in a folder of its own, is never meant to be one).
enum class AppendLinks { kFollow, kRefuse };

// Appends `line` and a newline to the file at `path`, creating it when missing (rw-r--r-- on
// POSIX). The whole line goes in under an exclusive lock on the file, so lines from other
// threads and processes that append this way are never torn or interleaved with it. Nothing here
// waits without end: only a regular file (or a link to one) is written, opened without waiting
// on anything, and the lock is waited for up to kAppendLockWait, less when `stop` turns true.
// False, with `failure` saying why (kStopped when `stop` ended the wait, kBusy when the
// lock was not had in time), when the file cannot be opened, locked or written, or
// is read-only by its mode (root too); a write that failed halfway is cut back off, so the file
// holds whole lines only.
bool AppendWholeLine(const std::string& path, const std::string& line, Failure& failure,
                     const std::atomic<bool>* stop = nullptr,
                     AppendLinks links = AppendLinks::kFollow);

// Whether AppendWholeLine would succeed now, found out the same way (the file is created when
// missing) without writing anything; false with `failure`.
bool CanAppendLines(const std::string& path, Failure& failure,
                    const std::atomic<bool>* stop = nullptr);

}  // namespace vn

#pragma once
// What box announcements and the window's single-instance guard need of the system: process ids,
// who the user is, and a folder only this user reaches.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/failure.h"

namespace vn {

int64_t OwnProcessId();
// Tells this user from the others on the machine: the numeric user id on POSIX, the user name on
// Windows.
std::string UserIdentity();
// Whether a process with that id runs (one of another user's counts).
bool ProcessAlive(int64_t pid);
// $XDG_RUNTIME_DIR/vespanode, or /tmp/vespanode-<uid> when that variable is unset; on Windows
// vespanode in the user's temporary folder. Not created here.
std::string PrivateRuntimeFolder();
// Creates the folder (mode 0700) when it is missing. True only when it is then a real folder, not
// a link, owned by this user and closed to everyone else (mode 0700 on POSIX); otherwise
// `failure` says what is there instead. Nothing that is there already is changed: in a shared /tmp
// it may be another user's.
bool MakePrivateFolder(const std::string& folder, Failure& failure);
// The same judgement of a folder that is there, without creating anything.
bool IsPrivateFolder(const std::string& folder, Failure& failure);
// Whether the process at the other end of a connected local socket (a descriptor) runs as this
// user: a name in a folder of ours may still be answered by a listener someone else started
// before it. Always true on Windows, whose local sockets are not files.
bool PeerIsThisUser(intptr_t socket);
// At most `limit` bytes from the start of a regular file. False, and nothing waited for, when the
// name is a link, a FIFO, a device, a folder or anything else that is not a regular file.
bool ReadSmallRegularFile(const std::string& path, size_t limit, std::string& text);

}  // namespace vn

#pragma once
// What box announcements and the window's single-instance guard need of the system: process ids,
// who the user is, and a folder only this user reaches.
#include <cstdint>
#include <string>

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
// Creates the folder when needed and keeps other users out of it, as far as the system lets.
void MakePrivateFolder(const std::string& folder);

}  // namespace vn

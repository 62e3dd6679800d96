#pragma once
// What box announcements need of the system: process ids, and a folder only this user reaches.
#include <cstdint>
#include <string>

namespace vn {

int64_t OwnProcessId();
// Whether a process with that id runs (one of another user's counts).
bool ProcessAlive(int64_t pid);
// $XDG_RUNTIME_DIR/vespanode, or /tmp/vespanode-<uid> when that variable is unset; on Windows
// vespanode in the user's temporary folder. Not created here.
std::string PrivateRuntimeFolder();
// Creates the folder when needed and keeps other users out of it, as far as the system lets.
void MakePrivateFolder(const std::string& folder);

}  // namespace vn

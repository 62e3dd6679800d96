#pragma once
// Where running virtual boxes announce themselves, so that the window and the command line can
// offer their pseudo-terminals next to the serial ports: one small file per box process, named
// box-<pid>, holding the pseudo-terminal's path, in platform's PrivateRuntimeFolder().
#include <string>
#include <vector>

#include "platform/failure.h"

namespace vn {

// Announces this process's box; false, with `failure`, when the folder is not this user's
// private folder (a link, another user's, open to others) or the file cannot be written.
bool AnnounceBox(const std::string& ptyPath, Failure* failure = nullptr);

// Removes this process's announcement, if any.
void WithdrawBox();

// The pseudo-terminal paths of boxes whose process is alive and whose path exists, sorted;
// announcements of boxes that are gone are removed on the way. Nothing is read from a folder that
// is not this user's private one, and only regular files are read, without waiting.
std::vector<std::string> ListAnnouncedBoxes();

}  // namespace vn

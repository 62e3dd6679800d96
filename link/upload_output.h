#pragma once
// Where an upload puts what the box sends. The blocks go into TARGET.partial beside the target;
// only a finished backup, its total size and CRC written and on disk, replaces TARGET by a rename.
// An upload that fails therefore never destroys the file it was to replace, and what it received
// stays under a name that says it is incomplete. A target that is a symbolic link is followed, so
// the backup lands where the link points and the link stays.
#include <string>

#include "dld/file_at.h"
#include "platform/failure.h"

namespace vn {

// The names an upload uses, settled once when it begins: a FILE that turns into a link during the
// run, or a file that appears there, moves neither the partial file nor the backup.
struct UploadNames {
  std::string destination;  // FILE, links followed
  std::string partial;      // where the upload writes: `destination` + ".partial"
  bool replaces = false;    // whether something stood at `destination` when the upload began
};
UploadNames UploadNamesOf(const std::string& target);

// Creates the partial file afresh (an older one is replaced); null with errno set on failure.
UniqueFile CreatePartialFile(const UploadNames& names);

// Flushes the completed partial file, still open as `file`, to disk, gives it the mode of the
// file it replaces and renames it to the destination: over the file that stood there when the
// upload began, but never over one that appeared since, and only while the partial file's name
// still holds `file` (never a file, FIFO or device put in its place). False with `failure`; the
// partial file then stays.
bool CommitPartialFile(std::FILE* file, const UploadNames& names, Failure& failure);

// Whether the upload could create its file beside the target, tried without creating or deleting
// anything. False with `failure` ("cannot write FILE: Permission denied", "FILE is a FIFO, not a
// file") when the folder is missing or not writable, the target (links followed) is no regular
// file or is read-only by its mode (whoever runs the tool, root too), or TARGET.partial is a
// folder, FIFO or device.
bool CanCreateUploadFile(const std::string& target, Failure& failure);

// The failure in words, with what to do about a full disk or a folder the user may not write to:
// "cannot write FILE: No space left on device (disk full: free some space and start again)".
std::string FileErrorText(const Failure& failure);

}  // namespace vn

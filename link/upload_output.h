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

// The name of the file the upload writes into, beside where the link-free target lies.
std::string PartialFileName(const std::string& target);

// Creates the partial file afresh (an older one is replaced); null with errno set on failure.
UniqueFile CreatePartialFile(const std::string& target);

// Flushes the completed partial file to disk, gives it the mode of the file it replaces and
// renames it over the target. False with errno set; the partial file then stays.
bool CommitPartialFile(const std::string& target);

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

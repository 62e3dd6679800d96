#pragma once
// Files the tool creates next to files that others may control: the scratch header in the
// program's folder and the upload's output. A name someone planted beforehand (a symbolic or hard
// link to a file of theirs or of root's) must never make the tool write into another file.
#include <string>

#include "dld/file_at.h"
#include "platform/file_kind.h"  // FollowLinks, for the callers that create files through links

namespace vn {

// Removes whatever entry has the name (the entry itself, never what a link points to), then
// creates a new file there exclusively, without following links, open for reading and writing.
// Null, with errno set, when either step fails: then nothing was written anywhere.
UniqueFile CreateFreshFile(const std::string& path, int mode);

}  // namespace vn

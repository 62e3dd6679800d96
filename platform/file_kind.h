#pragma once
// What stands at a path when the tool expects a file there. A FIFO would make a read or a write
// wait for another program without end, a device would take or give bytes that are no file's, and
// replacing either by a rename would destroy something that was never the user's file. So every
// path the tools read or write is looked at first, and only regular files (or links to them) pass.
#include <string>

namespace vn {

// What the entry at `path`, links followed, is when it is no regular file: "is a folder, not
// <noun>", "is a FIFO, not <noun>", "is a device, not <noun>", "is not a regular file", or on the
// way a link another user planted in a shared folder (IsForeignLink): "is a link of another user
// in the shared folder F: not followed". Empty for a regular file, for nothing at all (a dangling
// link included) and for a path that cannot be looked at: the open that follows gives the
// system's reason then.
std::string NonFileProblem(const std::string& path, const std::string& noun = "a file");

// The file a name stands for: a chain of symbolic links followed to its end, even when that end
// does not exist yet. A path that is no link comes back as it is. The chain stops at a link that
// another user planted in a shared folder (IsForeignLink): its own name comes back, which a
// rename replaces and an open without following links refuses.
std::string FollowLinks(const std::string& path);

// Whether two paths name one file: by name, links followed (the file may not exist yet), or as the
// same file under another name.
bool SameFile(const std::string& a, const std::string& b);

}  // namespace vn

#pragma once
// Files the tool makes beside files that others may control, and how it replaces them. Failures
// leave errno set to the system's reason.
#include <cstdio>
#include <string>

namespace vn {

// Removes whatever entry has the name (the entry itself, never what a link points to), then
// creates a new file there exclusively, without following links, open for reading and writing
// with `mode` (narrowed by the umask). Null when either step fails: nothing was written anywhere.
std::FILE* CreateExclusiveFile(const std::string& path, int mode);

// Flushes the file's contents to the disk.
bool SyncFileToDisk(const std::string& path);

// Renames `from` over `to`; when `to` exists, `from` takes its permissions first. A read-only
// `to` is replaced on POSIX systems (callers refuse one first) and never on Windows.
bool RenameOver(const std::string& from, const std::string& to);

// Renames `from` to `to` only when nothing stands at `to`: false with errno EEXIST when something
// does (a file, a link, a device), which stays as it was.
bool RenameWithoutReplacing(const std::string& from, const std::string& to);

// Flushes an open file to the disk: stdio's buffer, then the system's.
bool SyncOpenFile(std::FILE* file);

// Whether the name `path` still stands for the open `file` (the same file, not a link to it): a
// check before a rename moves whatever the name holds.
bool NameHoldsOpenFile(const std::string& path, std::FILE* file);

// 0 when a file could be created at `path` or the file there replaced: the folder may be written
// and an existing file is neither a folder nor read-only (no write bit in its mode, whoever asks:
// root too). Otherwise an errno value.
int CannotWriteReason(const std::string& path);

// Whether `path` is a symbolic link that someone else may have planted: one in a folder that
// every user may write to and that keeps its entries to their owners (the sticky bit, as /tmp),
// owned by neither the caller nor the folder's owner. The tool never follows such a link (the
// rule the system applies itself where its protected-links setting is on), since the rename or
// write that follows would land wherever the other user chose. Sets `folder` to the folder.
// Never on Windows, whose folders have no such bit.
bool IsForeignLink(const std::string& path, std::string& folder);

}  // namespace vn

#include "link/upload_output.h"

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "link/fresh_file.h"
#include "link/platform/file_system.h"

namespace vn {
namespace {

constexpr int kNewFileMode = 0666;  // narrowed by the umask like any new file

}  // namespace

std::string PartialFileName(const std::string& target) {
  return FollowLinks(target) + ".partial";
}

UniqueFile CreatePartialFile(const std::string& target) {
  return CreateFreshFile(PartialFileName(target), kNewFileMode);
}

bool CommitPartialFile(const std::string& target) {
  const std::string destination = FollowLinks(target);
  const std::string partial = destination + ".partial";
  // A replaced backup keeps who may read it.
  return SyncFileToDisk(partial) && RenameOver(partial, destination);
}

bool CanCreateUploadFile(const std::string& target, int* osError) {
  // A backup made read-only is kept from being replaced, as writing it in place always did.
  *osError = CannotWriteReason(FollowLinks(target));
  return *osError == 0;
}

std::string FileErrorText(const std::string& action, const std::string& path, int osError) {
  std::string text = action + " " + path + ": " + std::strerror(osError);
#ifdef EDQUOT
  if (osError == EDQUOT) osError = ENOSPC;
#endif
  if (osError == ENOSPC) text += " (disk full: free some space and start again)";
  if (osError == EACCES || osError == EROFS) text += " (choose a folder you may write to)";
  return text;
}

}  // namespace vn

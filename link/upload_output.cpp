#include "link/upload_output.h"

#include <cerrno>
#include <filesystem>

#include "platform/file_kind.h"
#include "platform/file_system.h"
#include "platform/utf8_path.h"

namespace vn {
namespace {

constexpr int kNewFileMode = 0666;  // narrowed by the umask like any new file

}  // namespace

std::string PartialFileName(const std::string& target) {
  return FollowLinks(target) + ".partial";
}

UniqueFile CreatePartialFile(const std::string& target) {
  return UniqueFile(CreateExclusiveFile(PartialFileName(target), kNewFileMode));
}

bool CommitPartialFile(const std::string& target) {
  const std::string destination = FollowLinks(target);
  const std::string partial = destination + ".partial";
  // A replaced backup keeps who may read it.
  return SyncFileToDisk(partial) && RenameOver(partial, destination);
}

bool CanCreateUploadFile(const std::string& target, Failure& failure) {
  const std::string destination = FollowLinks(target);
  // A name the system cannot take, the target's or the partial file's eight more characters, is
  // found here, before the box: later it would fail the transfer as some other cause.
  for (const std::string& name : {destination, destination + ".partial"}) {
    std::error_code error;
    (void)std::filesystem::symlink_status(Utf8Path(name), error);
    if (error == std::errc::filename_too_long) {
      failure = FailureOfErrno(ENAMETOOLONG, "cannot write", name);
      return false;
    }
  }
  if (const std::string kind = NonFileProblem(destination); !kind.empty()) {
    failure = FailureSaying(FailureKind::kWrongKind, kind, target);
    return false;
  }
  // The partial file's name is the tool's own: a link or a file there is removed when the upload
  // begins, but anything else (a folder, a FIFO, a device) is somebody's and stays.
  const std::string partial = destination + ".partial";
  std::error_code error;
  const auto partialType = std::filesystem::symlink_status(Utf8Path(partial), error).type();
  if (partialType != std::filesystem::file_type::not_found &&
      partialType != std::filesystem::file_type::regular &&
      partialType != std::filesystem::file_type::symlink && !error) {
    failure = FailureSaying(FailureKind::kWrongKind, NonFileProblem(partial), partial);
    return false;
  }
  // A backup made read-only is kept from being replaced, as writing it in place always did.
  if (const int osError = CannotWriteReason(destination); osError != 0) {
    failure = FailureOfErrno(osError, "cannot write", target);
    return false;
  }
  return true;
}

std::string FileErrorText(const Failure& failure) {
  std::string text = FailureText(failure);
  // Only the system's refusals get advice: a read-only file or disk, not a file of another kind.
  if (failure.systemCode == 0) return text;
  if (failure.kind == FailureKind::kNoSpace)
    text += " (disk full: free some space and start again)";
  if (failure.kind == FailureKind::kPermissionDenied) text += " (choose a folder you may write to)";
  return text;
}

}  // namespace vn

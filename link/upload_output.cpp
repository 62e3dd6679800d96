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

UploadNames UploadNamesOf(const std::string& target) {
  UploadNames names;
  names.destination = FollowLinks(target);
  names.partial = names.destination + ".partial";
  std::error_code error;
  names.replaces =
      std::filesystem::exists(std::filesystem::symlink_status(Utf8Path(names.destination), error));
  return names;
}

UniqueFile CreatePartialFile(const UploadNames& names) {
  return UniqueFile(CreateExclusiveFile(names.partial, kNewFileMode));
}

bool CommitPartialFile(std::FILE* file, const UploadNames& names, Failure& failure) {
  if (!SyncOpenFile(file)) {
    failure = FailureOfErrno(errno, "cannot write", names.partial);
    return false;
  }
  if (!NameHoldsOpenFile(names.partial, file)) {
    failure = FailureSaying(FailureKind::kOther,
                            "was removed or replaced during the upload; the backup is not stored",
                            names.partial);
    return false;
  }
  // A replaced backup keeps who may read it; a file that appeared during the run is not ours.
  if (names.replaces ? RenameOver(names.partial, names.destination)
                     : RenameWithoutReplacing(names.partial, names.destination)) {
    return true;
  }
  const int error = errno;
  if (error == EEXIST && !names.replaces) {
    failure =
        FailureSaying(FailureKind::kOther,
                      "appeared during the upload and was kept; the backup is in " + names.partial,
                      names.destination);
  } else {
    failure = FailureOfErrno(error, "cannot replace", names.destination);
  }
  return false;
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

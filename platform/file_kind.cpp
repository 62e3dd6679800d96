#include "platform/file_kind.h"

#include "platform/file_system.h"
#include "platform/utf8_path.h"

#include <filesystem>

namespace vn {

std::string NonFileProblem(const std::string& path, const std::string& noun) {
  namespace fs = std::filesystem;
  if (std::string folder; IsForeignLink(FollowLinks(path), folder)) {
    return "is a link of another user in the shared folder " + folder + ": not followed";
  }
  std::error_code error;
  const fs::file_status status = fs::status(Utf8Path(path), error);
  if (error || !fs::exists(status) || fs::is_regular_file(status)) return {};
  if (fs::is_directory(status)) return "is a folder, not " + noun;
  if (fs::is_fifo(status)) return "is a FIFO, not " + noun;
  if (fs::is_character_file(status) || fs::is_block_file(status)) return "is a device, not " + noun;
  return "is not a regular file";
}

std::string FollowLinks(const std::string& path) {
  namespace fs = std::filesystem;
  constexpr int kMaxLinks = 40;  // as the system itself allows before ELOOP
  fs::path current = Utf8Path(path);
  for (int i = 0; i < kMaxLinks; ++i) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(current, error))) break;
    if (std::string folder; IsForeignLink(Utf8OfPath(current), folder)) break;
    const fs::path target = fs::read_symlink(current, error);
    if (error) break;
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  return Utf8OfPath(current);
}

bool SameFile(const std::string& a, const std::string& b) {
  namespace fs = std::filesystem;
  std::error_code errorA;
  std::error_code errorB;
  const fs::path canonicalA =
      fs::weakly_canonical(fs::absolute(Utf8Path(FollowLinks(a)), errorA), errorA);
  const fs::path canonicalB =
      fs::weakly_canonical(fs::absolute(Utf8Path(FollowLinks(b)), errorB), errorB);
  if (!errorA && !errorB && canonicalA == canonicalB) return true;
  std::error_code error;
  return fs::equivalent(Utf8Path(a), Utf8Path(b), error) && !error;
}

}  // namespace vn

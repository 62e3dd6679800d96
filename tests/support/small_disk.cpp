#include "support/small_disk.h"

#include <sys/mount.h>
#include <unistd.h>

namespace vn::testing {

SmallDisk::SmallDisk(const std::string& folder, int kibibytes, bool readOnly) : folder_(folder) {
  if (::geteuid() != 0) return;
  const std::string size = "size=" + std::to_string(kibibytes) + "k";
  mounted_ = ::mount("tmpfs", folder.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, size.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

}  // namespace vn::testing

#pragma once
// A small tmpfs mounted on a folder for the length of a test: a disk that fills up, or one that
// cannot be written at all. Mounting needs root; without it Mounted() is false and the test that
// needs it is skipped.
#include <string>

namespace vn::testing {

class SmallDisk {
 public:
  SmallDisk(const std::string& folder, int kibibytes, bool readOnly = false);
  ~SmallDisk();
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool Mounted() const { return mounted_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

}  // namespace vn::testing

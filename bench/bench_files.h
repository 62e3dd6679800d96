#pragma once
// The benchmarks' images, files and folders come from the tests' support library.
#include "dld/file_identity.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"

namespace vn {

using testing::ReadBytes;
using testing::SampleFlashImage;
using testing::ScratchFolder;
using testing::WriteBytes;

}  // namespace vn

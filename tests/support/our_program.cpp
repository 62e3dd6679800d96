#include "support/our_program.h"

#include <cstdlib>

namespace vn::testing {

std::string OurProgram(const std::string& name) {
  // A copy of the programs elsewhere: the unprivileged pass runs them from a folder it may read.
  if (const char* copied = std::getenv("VESPANODE_BIN_DIR"); copied && *copied) {
    return std::string(copied) + "/" + name;
  }
#ifdef VESPANODE_BIN_DIR
  return std::string(VESPANODE_BIN_DIR) + "/" + name;
#else
  return name;
#endif
}

}  // namespace vn::testing

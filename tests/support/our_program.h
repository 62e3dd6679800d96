#pragma once
// Where the programs of this build are, for the tests and the benchmarks alike: the benchmarks
// are built without the tests too (a Release build for the package), so this needs nothing of
// GoogleTest.
#include <string>

namespace vn::testing {

// build/bin/<name>, or <name> in $VESPANODE_BIN_DIR when that is set.
std::string OurProgram(const std::string& name);

}  // namespace vn::testing

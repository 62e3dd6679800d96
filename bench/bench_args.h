#pragma once
// A benchmark's few options, read the same way by each: switches, and names followed by a whole
// number within limits or by a region set's name.
#include <cstdlib>
#include <string_view>

#include "dld/region_sets.h"

namespace vn {

// The arguments after the program's name, one at a time.
class BenchArgs {
 public:
  BenchArgs(int argc, char** argv) : argc_(argc), argv_(argv) {}

  // Moves to the next argument; false when none is left.
  bool Next() { return ++at_ < argc_; }
  // Whether the current argument is `name`.
  bool Is(std::string_view name) const { return name == argv_[at_]; }
  // Whether the current argument is `name` and the next one a number from `low` to `high`; then
  // the number is in `value` and both are taken.
  bool Number(std::string_view name, int low, int high, int& value) {
    if (!Is(name) || at_ + 1 >= argc_) return false;
    char* end = nullptr;
    const long number = std::strtol(argv_[at_ + 1], &end, 10);
    if (end == argv_[at_ + 1] || *end != '\0' || number < low || number > high) return false;
    value = int(number);
    ++at_;
    return true;
  }
  // Whether the current argument is `name` and the next one a region set's name; then the set is
  // in `set` and both are taken.
  bool Set(std::string_view name, Operation& set) {
    if (!Is(name) || at_ + 1 >= argc_) return false;
    const auto named = OperationOfSetName(argv_[at_ + 1]);
    if (!named) return false;
    set = *named;
    ++at_;
    return true;
  }

 private:
  const int argc_;
  char** const argv_;
  int at_ = 0;
};

}  // namespace vn

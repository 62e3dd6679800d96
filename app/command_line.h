#pragma once
// The window program's command line. It reads only --help and --version, answered before any
// window or display is needed; Qt takes its own options (-platform and the like) and anything left
// after that is refused, so that a mistyped option is not silently ignored.
#include <optional>
#include <string>
#include <vector>

namespace vn {

struct CommandLineAnswer {
  int exitCode = 0;
  std::string out;  // for standard output
  std::string err;  // for standard error
};

// `arguments` without the program's name. nullopt: go on and show the window. With
// `qtOptionsRemoved` false (before Qt has seen the arguments) only --help and --version are
// answered; with it true every argument left is a mistake.
std::optional<CommandLineAnswer> AnswerCommandLine(const std::vector<std::string>& arguments,
                                                   bool qtOptionsRemoved);

}  // namespace vn

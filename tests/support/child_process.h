#pragma once
// Runs one of our programs as a child process and collects what it prints and how it ended.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vn::testing {

struct ChildResult {
  int exitCode = -1;  // the exit status, or 128 + signal when a signal ended it
  std::string out;    // standard output
  std::string err;    // standard error
  bool timedOut = false;
  std::vector<std::string> OutLines() const;
};

struct ChildOptions {
  std::chrono::seconds timeout{60};  // then SIGKILL: a hang guard, not a speed check
  // Called with each complete line of standard output and the child's pid (e.g. to signal it).
  std::function<void(const std::string& line, int pid)> onLine;
  // Like `| head -N`: after N lines the reading end of standard output is closed; 0 never.
  int closeOutAfterLines = 0;
};

// Runs `program` (a path) with `args`; standard input is /dev/null.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

// build/bin/<name>
std::string OurProgram(const std::string& name);

// RunChild of our command-line tool, vespanode-cli.
ChildResult RunCli(const std::vector<std::string>& args, const ChildOptions& options = {});

// `text` cut at its newlines, without them.
std::vector<std::string> Lines(const std::string& text);

// Points $XDG_RUNTIME_DIR, where boxes announce themselves, at `folder` for this process and the
// programs it starts, for as long as it lives: other boxes of this user stay out of a listing.
class RuntimeFolderAt {
 public:
  explicit RuntimeFolderAt(const std::string& folder);
  ~RuntimeFolderAt();
  RuntimeFolderAt(const RuntimeFolderAt&) = delete;
  RuntimeFolderAt& operator=(const RuntimeFolderAt&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace vn::testing

#pragma once
// Runs one of our programs as a child process and collects what it prints and how it ended.
// Every JSON object the tests see our programs write is checked against its schema in
// docs/schema/ (json_contract.cpp), so that the published contract and the output cannot drift
// apart unnoticed.
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "support/our_program.h"

namespace vn::testing {

struct ChildResult {
  int exitCode = -1;  // the exit status, or 128 + signal when a signal ended it
  std::string out;    // standard output
  std::string err;    // standard error
  bool timedOut = false;
};

struct ChildOptions {
  std::chrono::seconds timeout{60};  // then SIGKILL: a hang guard, not a speed check
  // Called with each complete line of standard output and the child's pid (e.g. to signal it).
  std::function<void(const std::string& line, int pid)> onLine;
  // Like `| head -N`: after N lines the reading end of standard output is closed; 0 never.
  int closeOutAfterLines = 0;
  // Above 0: standard error goes into a pipe of this size (4096 at least) that nobody reads.
  int unreadErrPipeSize = 0;
  std::string workingDirectory;  // empty: this process's
};

// Runs `program` (a path) with `args`; standard input is /dev/null.
ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

// RunChild of our command-line tool, vespanode-cli.
ChildResult RunCli(const std::vector<std::string>& args, const ChildOptions& options = {});

// RunChild of the virtual box, vespanode-box; `onPty` is called with the path of its
// pseudo-terminal and its pid once it says it (and not again should it say it twice).
ChildResult RunBox(const std::vector<std::string>& args,
                   const std::function<void(const std::string& pty, int pid)>& onPty,
                   std::chrono::seconds timeout = std::chrono::seconds(30),
                   int unreadErrPipeSize = 0);

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

// What the schema checker says about `text` (one JSON object, or one per line): empty when every
// object matches its schema.
std::string JsonSchemaProblems(const std::string& text);

// Watches one run of vespanode-cli: its standard output with --json, and the lines the run adds
// to its --record file. Other programs and runs without JSON are let be.
class CliJsonWatch {
 public:
  CliJsonWatch(const std::string& program, const std::vector<std::string>& args);
  // Fails the current test when an object does not match its schema.
  void Check(const ChildResult& result) const;

 private:
  bool cli_ = false;
  bool json_ = false;
  std::string record_;
  uintmax_t recordSizeBefore_ = 0;
};

}  // namespace vn::testing

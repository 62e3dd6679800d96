// The check of what our programs print as JSON against the published schemas.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

namespace fs = std::filesystem;

// The schemas, with the checker beside them in a copy (VESPANODE_SCHEMA_DIR, for a run that may
// not read the source tree), or in the source tree.
void CheckerPaths(std::string& checker, std::string& schemas) {
  if (const char* copied = std::getenv("VESPANODE_SCHEMA_DIR"); copied && *copied) {
    schemas = copied;
    checker = schemas + "/check_json.py";
    return;
  }
  schemas = std::string(VESPANODE_SOURCE_DIR) + "/docs/schema";
  checker = std::string(VESPANODE_SOURCE_DIR) + "/tests/support/check_json.py";
}

// A regular file's size, or 0 for a missing file or anything that is no regular file (a FIFO
// must not be read: nobody may write its other end).
uintmax_t RegularFileSize(const std::string& path) {
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return 0;
  const uintmax_t size = fs::file_size(path, error);
  return error ? 0 : size;
}

// Up to the last newline: a killed run may have left half a line.
std::string WholeLines(const std::string& text) {
  const size_t end = text.rfind('\n');
  return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

}  // namespace

std::string JsonSchemaProblems(const std::string& text) {
  ScratchFolder folder;
  const std::string file = folder.Write("objects.json", {text.begin(), text.end()});
  std::string checker, schemas;
  CheckerPaths(checker, schemas);
  // Debian's python3-jsonschema belongs to the system's Python, which may not be the first
  // python3 on the PATH.
  const bool systemPython = fs::exists("/usr/bin/python3");
  const ChildResult run = systemPython
                              ? RunChild("/usr/bin/python3", {checker, schemas, file})
                              : RunChild("/usr/bin/env", {"python3", checker, schemas, file});
  if (run.exitCode == 0) return {};
  return "the schema check ended with " + std::to_string(run.exitCode) + ":\n" + run.out + run.err;
}

CliJsonWatch::CliJsonWatch(const std::string& program, const std::vector<std::string>& args) {
  cli_ = fs::path(program).filename() == "vespanode-cli";
  if (!cli_) return;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--json") json_ = true;
    // Help is text, whatever else the line holds.
    if (args[i] == "--help" || args[i] == "-h") {
      cli_ = false;
      return;
    }
    if (args[i] == "--record" && i + 1 < args.size()) record_ = args[i + 1];
    if (args[i].rfind("--record=", 0) == 0) record_ = args[i].substr(9);
  }
  // A database's records are checked against its rows, not read as lines.
  const auto database = [](const std::string& target) {
    return target.ends_with(".sqlite") || target.ends_with(".db") ||
           target.starts_with("sqlite:") || target.starts_with("postgres");
  };
  if (database(record_)) record_.clear();
  if (!record_.empty()) recordSizeBefore_ = RegularFileSize(record_);
}

void CliJsonWatch::Check(const ChildResult& result) const {
  if (!cli_) return;
  if (json_ && !WholeLines(result.out).empty()) {
    const std::string problems = JsonSchemaProblems(WholeLines(result.out));
    if (!problems.empty()) ADD_FAILURE() << "standard output: " << problems;
  }
  if (record_.empty()) return;
  const uintmax_t size = RegularFileSize(record_);
  if (size == 0) return;
  std::ifstream stream(record_, std::ios::binary);
  // A file that shrank was replaced: all of it is this run's.
  if (size >= recordSizeBefore_) stream.seekg(std::streamoff(recordSizeBefore_));
  const std::string added((std::istreambuf_iterator<char>(stream)),
                          std::istreambuf_iterator<char>());
  const std::string lines = WholeLines(added);
  if (lines.find_first_not_of('\n') == std::string::npos) return;
  const std::string problems = JsonSchemaProblems(lines);
  if (!problems.empty()) ADD_FAILURE() << "record " << record_ << ": " << problems;
}

}  // namespace vn::testing

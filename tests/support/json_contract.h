#pragma once
// Every JSON object the tests see our programs write is checked against its schema in
// docs/schema/, so that the published contract and the output cannot drift apart unnoticed.
#include <cstdint>
#include <string>
#include <vector>

namespace vn::testing {

struct ChildResult;

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

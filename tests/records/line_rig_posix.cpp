#include "line_rig.h"

#include <gtest/gtest.h>

#include <thread>

#include "dld/region_sets.h"
#include "support/sample_files.h"

namespace vn::testing {

LineRig::LineRig(int boxes) {
  file_ = folder_.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 71));
  for (int i = 0; i < boxes; ++i) {
    BoxOptions options;
    options.judgeTime = std::chrono::milliseconds(5);
    options.eraseTime = std::chrono::milliseconds(10);
    options.programTime = std::chrono::milliseconds(10);
    boxes_.push_back(std::make_unique<VirtualBox>(options));
    started_ = boxes_.back()->Start() && started_;
  }
}

std::vector<std::string> LineRig::Download(const std::vector<int>& boxes, int perPort,
                                           const std::string& target) const {
  std::vector<std::string> line = {"download", file_};
  for (int box : boxes) {
    line.push_back("--port");
    line.push_back(Pty(box));
  }
  for (const std::string& word : {std::string("--boxes"), std::to_string(perPort),
                                  std::string("--json"), std::string("--record"), target}) {
    line.push_back(word);
  }
  return line;
}

std::vector<ChildResult> LineRig::RunAtOnce(const std::vector<std::vector<std::string>>& lines) {
  std::vector<ChildResult> results(lines.size());
  std::vector<std::thread> runs;
  for (size_t i = 0; i < lines.size(); ++i) {
    runs.emplace_back([&, i] {
      ChildOptions bound;
      bound.timeout = std::chrono::seconds(90);
      results[i] = RunCli(lines[i], bound);
    });
  }
  for (std::thread& run : runs) run.join();
  return results;
}

std::vector<nlohmann::json> LineRig::BoxRecords(const ChildResult& run) {
  std::vector<nlohmann::json> records;
  for (const std::string& line : Lines(run.out)) {
    const auto object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_object() && object.value("type", "") == "box")
      records.push_back(object["record"]);
  }
  return records;
}

nlohmann::json ReportFigures(const std::vector<std::string>& sources) {
  std::vector<std::string> line = {"report", "--json"};
  line.insert(line.end(), sources.begin(), sources.end());
  const ChildResult run = RunCli(line);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(JsonSchemaProblems(run.out), "");
  nlohmann::json report = nlohmann::json::parse(run.out, nullptr, false);
  if (!report.is_object()) return {};
  report.erase("sources");
  report.erase("duplicates");
  return report;
}

}  // namespace vn::testing

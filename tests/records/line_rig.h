#pragma once
// A production line for the record tests: virtual boxes on pseudo-terminals, a sound upgrade file,
// vespanode-cli runs (several at once when asked), and the box records they print with --json.
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/scratch_folder.h"

namespace vn::testing {

class LineRig {
 public:
  // `boxes` virtual boxes, quick at erasing and programming.
  explicit LineRig(int boxes);

  bool Started() const { return started_; }
  const std::string& File() const { return file_; }
  const ScratchFolder& Folder() const { return folder_; }
  std::string Pty(int box) const { return boxes_[size_t(box)]->PtyPath(); }

  // `download FILE --port P... --boxes N --json --record TARGET`, with the given boxes' ports.
  std::vector<std::string> Download(const std::vector<int>& boxes, int perPort,
                                    const std::string& target) const;

  // Runs the command lines at once; their results in the same order.
  static std::vector<ChildResult> RunAtOnce(const std::vector<std::vector<std::string>>& lines);

  // The records of the `box` objects a --json run printed.
  static std::vector<nlohmann::json> BoxRecords(const ChildResult& run);

 private:
  ScratchFolder folder_;
  std::string file_;
  std::vector<std::unique_ptr<VirtualBox>> boxes_;
  bool started_ = true;
};

// The report's --json over `sources`, without the sources themselves: what must be the same
// whatever the records are read from.
nlohmann::json ReportFigures(const std::vector<std::string>& sources);

}  // namespace vn::testing

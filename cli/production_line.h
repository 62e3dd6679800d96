#pragma once
// Runs one operation on every port given, all at once: one Station and one reporter per port,
// so that a box that fails, falls silent or is pulled on one port leaves the others alone.
#include <string>
#include <vector>

#include "link/box_task.h"
#include "link/operation_driver.h"

namespace CLI {
class App;
}

namespace vn {

struct LineRequest {
  std::vector<std::string> ports;
  std::string file;
  DownloadImage image;  // a download's file, read once: what every box on every port gets
  Operation operation = Operation::kDownload;  // Download sends `image`
  int boxes = 1;                               // per port; 0: until interrupted
  bool keepGoing = false;                      // a failed box is counted and the next one awaited
  double stallSeconds = 0;                     // 0: no stall limit
  std::string recordFile;                      // empty: no record
  std::string traceFile;  // every message on the line; "-" standard error; empty: none
  bool json = false;      // JSON objects on standard output instead of status lines
  // Run on every box instead of the operation (verify, identify), one box after another as a
  // download; `image`, when given, is then the file the task compares with.
  std::shared_ptr<BoxTask> task;
  std::string operationWord;  // the task's name in events and records: "verify", "identify"
  std::string saveFile;       // verify --save: a second output, kept apart like `file`
  std::string httpAddress;    // "[ADDR:]PORT" of the line page; empty: none
  std::vector<std::string> httpHosts;  // names the page may be asked by besides its address
};

// The production line's options of every command that serves boxes: --record, --trace, --json,
// --stall-timeout.
void AddLineOptions(CLI::App& command, LineRequest& request);

// The program's exit status: 0 when every box on every port succeeded, 1 when one did not (or a
// record was lost), 2 when no port could be opened or the file cannot be read, 130 after a stop
// request.
int RunLine(const LineRequest& request);

}  // namespace vn

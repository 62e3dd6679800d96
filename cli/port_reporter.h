#pragma once
// One port's side of a production line: turns its station's events into lines, progress rows or
// JSON objects, and at the end of each box into the box's record. Called on the station's worker
// thread, and once more (FinishRun) after the run was collected.
#include <atomic>
#include <chrono>
#include <string>

#include "cli/box_record.h"
#include "cli/line_output.h"
#include "dld/blocks.h"
#include "link/link_observer.h"
#include "link/transfer_meter.h"
#include "records/record_sink.h"

namespace vn {

struct PortSetup {
  std::string port;      // as given on the command line
  int row = 0;           // its row on the terminal's board
  bool several = false;  // lines name the port, and its row stays on the board
  Operation operation = Operation::kDownload;
  std::string file;                                // the file sent, or the one written
  std::string fileSha256;                          // a download's, worked out once before the run
  const FILE_DOWNLOAD_HEADER_T* header = nullptr;  // the station driver's current header
  RecordSink* records = nullptr;                   // null: no record
  const std::atomic<bool>* stop = nullptr;  // a stop request cuts a wait for the record's lock
};

class PortReporter : public LinkObserver {
 public:
  PortReporter(LineOutput& output, PortSetup setup);

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override;
  void OnDetail(const std::string& text) override;

  // The header of the run's file (download) or of the box (upload), as the driver keeps it.
  void SetHeader(const FILE_DOWNLOAD_HEADER_T* header) { setup_.header = header; }

  // A box that a stop cut short still gets its record.
  void FinishRun();

  // Whether a record could be neither written nor spooled (it went to standard error).
  bool RecordLost() const { return recordLost_; }

 private:
  struct Box {
    bool open = false;
    bool engaged = false;  // the box answered and a transfer began
    int number = 0;
    std::chrono::system_clock::time_point start{};
    std::chrono::steady_clock::time_point started{};
    Phase phase = Phase::kNone;
    PassCut cut = PassCut::kNone;
    std::string failure;
    std::string reason;
    LinkCounters link;
  };

  void TrackBox(const LinkEvent& event);
  // How a box that ended without its success ended.
  BoxResult CutShort() const;
  void EndBox(BoxResult result);
  BoxRecord MakeRecord(BoxResult result) const;
  void Deliver(const nlohmann::ordered_json& record);
  void Show(const LinkEvent& event);
  void DrawRow(bool now);
  void CommitRow();
  std::string RowText() const;
  std::string Named(const std::string& text) const;

  LineOutput& output_;
  PortSetup setup_;
  Box box_;
  TransferMeter meter_;
  int done_ = 0;
  int failed_ = 0;
  bool recordLost_ = false;
  // What the progress row shows.
  Phase percentPhase_ = Phase::kNone;
  int percent_ = 0;
  int64_t bytesDone_ = 0;
  int64_t bytesTotal_ = 0;
  std::string status_;
  LinkCounters link_;
};

}  // namespace vn

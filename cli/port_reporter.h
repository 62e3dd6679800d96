#pragma once
// One port's side of a production line: turns its station's events into lines, progress rows or
// JSON objects, and at the end of each box into the box's record. Called on the station's worker
// thread, and once more (FinishRun) after the run was collected.
#include <atomic>
#include <string>

#include "cli/box_record.h"
#include "cli/line_output.h"
#include "cli/stream_tee.h"
#include "dld/blocks.h"
#include "link/box_task.h"
#include "link/link_observer.h"
#include "link/transfer_meter.h"
#include "records/record_sink.h"

namespace vn {

struct PortSetup {
  std::string port;      // as given on the command line
  int row = 0;           // its row on the terminal's board
  bool several = false;  // lines name the port, and its row stays on the board
  Operation operation = Operation::kDownload;
  std::string operationWord;  // a task's name ("verify"); empty: the operation's word
  const BoxTask* task = nullptr;  // the task run on every box instead of the operation, if any
  std::string file;                                // the file sent, or the one written
  std::string fileSha256;                          // a download's, worked out once before the run
  const FILE_DOWNLOAD_HEADER_T* header = nullptr;  // the station driver's current header
  RecordSink* records = nullptr;                   // null: no record
  const std::atomic<bool>* stop = nullptr;  // a stop request cuts a wait for the record's lock
  StreamTee* tee = nullptr;                 // also gets every JSON object, --json or not
};

class PortReporter : public LinkObserver {
 public:
  PortReporter(LineOutput& output, PortSetup setup);

  void OnEvent(const LinkEvent& event) override;
  void OnErrorBox(const std::string& text) override;
  void OnDetail(const std::string& text) override;
  // The box's record, and the row's count.
  void OnBoxEnd(const BoxOutcome& outcome) override;

  // The header of the run's file (download) or of the box (upload), as the driver keeps it.
  void SetHeader(const FILE_DOWNLOAD_HEADER_T* header) { setup_.header = header; }

  // The run has been collected: a single port's last row stays as a line.
  void FinishRun();

  // Whether a record could be neither written nor spooled (it went to standard error).
  bool RecordLost() const { return recordLost_; }

 private:
  // The system's words behind a failure event, on standard error or as a detail object.
  void TellFailure(const LinkEvent& event);
  BoxRecord MakeRecord(const BoxOutcome& outcome) const;
  void Deliver(const nlohmann::ordered_json& record);
  // A JSON object of the stream: to standard output with --json, and to the tee.
  bool Streams() const { return output_.Mode() == OutputMode::kJson || setup_.tee; }
  void Stream(const std::string& line);
  void Show(const LinkEvent& event);
  void DrawRow(bool now);
  void CommitRow();
  std::string RowText() const;
  std::string Named(const std::string& text) const;

  LineOutput& output_;
  PortSetup setup_;
  const std::string host_;  // the PC's name, for every record
  int box_ = 0;             // the box the last event belongs to
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

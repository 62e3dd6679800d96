#include "cli/port_reporter.h"

#include <cstdio>
#include <vector>

#include "cli/event_json.h"
#include "cli/json_fields.h"
#include "dld/file_identity.h"
#include "platform/file_digest.h"
#include "platform/host_name.h"
#include "platform/random_id.h"

namespace vn {
namespace {

std::string HumanBytes(int64_t bytes) {
  char buffer[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f KiB", double(bytes) / 1024.0);
  }
  return buffer;
}

std::string PhaseLabel(Phase phase) {
  std::string label = PercentPrefix(phase);
  while (!label.empty() && (label.back() == ' ' || label.back() == ':')) label.pop_back();
  return label;
}

// Pieces in order of importance, joined by two spaces; those at the end give way when the
// terminal is too narrow for all of them.
std::string JoinToFit(const std::vector<std::string>& pieces, int columns) {
  std::string line;
  for (const std::string& piece : pieces) {
    if (piece.empty()) continue;
    const std::string longer = line.empty() ? piece : line + "  " + piece;
    if (!line.empty() && columns > 1 && int(longer.size()) >= columns) break;
    line = longer;
  }
  return line;
}

}  // namespace

PortReporter::PortReporter(LineOutput& output, PortSetup setup)
    : output_(output), setup_(std::move(setup)), host_(HostName()) {}

void PortReporter::OnEvent(const LinkEvent& event) {
  // The port's own notice comes as it opens, before any box: on standard error, in every mode.
  if (event.kind == EventKind::kNotice) {
    output_.PrintError(Named("Notice: " + event.text));
    return;
  }
  box_ = event.box;
  meter_.OnEvent(event);
  link_ = event.link;
  // The bar repeats the percentages for the window; programs have those.
  if (event.kind != EventKind::kBar && Streams()) Stream(EventJson(setup_.port, event));
  if (output_.Mode() != OutputMode::kJson) Show(event);
  if (event.kind == EventKind::kFailure) TellFailure(event);
}

void PortReporter::TellFailure(const LinkEvent& event) {
  // A stop says nothing of the box; and where the system said nothing, the status text said it
  // all.
  if (event.failureKind == BoxFailureKind::kStopped || FailureText(event.failure).empty()) return;
  const std::string reason = FailureReason(event.failureKind, event.failure);
  if (Streams()) Stream(DetailJson(setup_.port, event.box, "detail", reason));
  if (output_.Mode() == OutputMode::kJson) return;
  output_.PrintError("vespanode-cli: " + Named(reason));
}

void PortReporter::OnErrorBox(const std::string& text) {
  if (Streams()) Stream(DetailJson(setup_.port, box_, "error", text));
  if (output_.Mode() == OutputMode::kJson) return;
  output_.PrintError(Named(text));
}

void PortReporter::OnDetail(const std::string& text) {
  if (Streams()) Stream(DetailJson(setup_.port, box_, "detail", text));
  if (output_.Mode() == OutputMode::kJson) return;
  output_.PrintError("vespanode-cli: " + Named(text));
}

void PortReporter::OnBoxEnd(const BoxOutcome& outcome) {
  if (outcome.result == BoxResult::kSuccess) ++done_;
  if (outcome.result == BoxResult::kFailure) ++failed_;
  Deliver(BoxRecordObject(MakeRecord(outcome)));
  DrawRow(true);  // with the box counted
}

void PortReporter::FinishRun() {
  if (output_.Mode() == OutputMode::kTerminal && !setup_.several) CommitRow();
}

BoxRecord PortReporter::MakeRecord(const BoxOutcome& outcome) const {
  BoxRecord record;
  record.recordId = NewRecordId();
  record.host = host_;
  record.port = setup_.port;
  record.operation = setup_.operation;
  record.operationWord = setup_.operationWord;
  record.file = setup_.file;
  record.fileSha256 = setup_.fileSha256;
  const bool upload = setup_.operation != Operation::kDownload && !setup_.task;
  if (upload && outcome.Succeeded()) {
    Failure unread;
    if (!FileSha256(setup_.file, record.fileSha256, unread)) record.fileSha256.clear();
  }
  if (setup_.header && setup_.header->tag == kHeaderTag) {
    record.headerKnown = true;
    record.identity = IdentityOfHeader(*setup_.header);
    record.kindCode = setup_.header->partitionKind;
    record.partitionCount = setup_.header->partitionCount;
  }
  record.outcome = outcome;
  if (const auto regions = setup_.task ? setup_.task->Regions() : std::nullopt) {
    record.regionsChecked = regions->checked;
    record.regionsDiffering = regions->differing;
  }
  record.efficiency = meter_.LineShare();
  return record;
}

// The record goes to the record's target and, with --json, into the event stream. A record that
// can be neither written nor spooled is not lost: it goes to standard error with the reason.
void PortReporter::Deliver(const nlohmann::ordered_json& record) {
  if (Streams()) Stream(BoxJson(setup_.port, record));
  if (!setup_.records) return;
  const RecordSink::Outcome outcome = setup_.records->Deliver(record);
  if (!outcome.say.empty()) output_.PrintError("vespanode-cli: " + Named(outcome.say));
  if (!outcome.lost) return;
  recordLost_ = true;
  output_.PrintError(OneLine(record));
}

void PortReporter::Stream(const std::string& line) {
  if (output_.Mode() == OutputMode::kJson) output_.PrintLine(line);
  if (setup_.tee) setup_.tee->Take(line);
}

void PortReporter::Show(const LinkEvent& event) {
  const bool terminal = output_.Mode() == OutputMode::kTerminal;
  switch (event.kind) {
    case EventKind::kBytes:
      bytesDone_ = event.bytesDone;
      bytesTotal_ = event.bytesTotal;
      DrawRow(false);
      return;
    case EventKind::kWarning:
      output_.PrintError("vespanode-cli: " + Named("warning: " + event.text));
      return;

    case EventKind::kPercent:
      if (terminal) {
        if (percentPhase_ != event.phase) {
          CommitRow();
          percentPhase_ = event.phase;
          bytesDone_ = 0;
        }
        percent_ = event.count > 0 ? event.part * 100 / event.count : 0;
        DrawRow(true);
        return;
      }
      break;
    default:
      break;
  }
  // What a task found in the box is printed as it stands, between the status lines.
  if (!event.HasStatusText() && event.kind != EventKind::kReport) return;
  if (event.text.empty()) {
    // The cleared status line: nothing to print, but the row forgets the last text.
    status_.clear();
    return;
  }
  if (terminal && !setup_.several) CommitRow();
  percentPhase_ = Phase::kNone;
  status_ = event.text;
  if (terminal && setup_.several) {
    output_.PrintLine(Named(event.text), setup_.row, RowText());
  } else {
    output_.PrintLine(Named(event.text));
  }
}

// A single port's row holds a phase's progress; once the phase is over it stays as a line of
// its own, as the plain output keeps its percentage lines.
void PortReporter::CommitRow() {
  if (setup_.several || percentPhase_ == Phase::kNone) return;
  const std::string row = RowText();
  percentPhase_ = Phase::kNone;
  output_.SetRow(setup_.row, "", true);
  output_.PrintLine(row);
}

void PortReporter::DrawRow(bool now) {
  if (output_.Mode() != OutputMode::kTerminal) return;
  if (!setup_.several && percentPhase_ == Phase::kNone) return;
  output_.SetRow(setup_.row, RowText(), now);
}

std::string PortReporter::RowText() const {
  const int columns = output_.Columns();
  std::vector<std::string> pieces;
  if (setup_.several) pieces.push_back(setup_.port + " box " + std::to_string(box_));
  std::string progress;
  if (percentPhase_ != Phase::kNone) {
    const int width = columns > 0 && columns < 100 ? 10 : 20;
    std::string bar(size_t(percent_ * width / 100), '#');
    bar.resize(size_t(width), '.');
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", percent_);
    progress = PhaseLabel(percentPhase_) + " [" + bar + "] " + percent;
  } else {
    progress = status_;
  }
  pieces.push_back(progress);
  // The link's health before the byte counts: on a narrow terminal the counts give way first.
  if (percentPhase_ == Phase::kTransfer) {
    char health[96];
    const double share = meter_.LineShare();
    if (share > 0) {
      std::snprintf(health, sizeof health, "%.0f%% of line", share * 100.0);
      pieces.push_back(health);
    }
    std::snprintf(health, sizeof health, "%d resent, %d timeouts", link_.framesResent,
                  link_.timeouts);
    pieces.push_back(health);
    if (bytesDone_ > 0) {
      pieces.push_back(HumanBytes(bytesDone_) +
                       (bytesTotal_ > 0 ? " of " + HumanBytes(bytesTotal_) : std::string()));
    }
  }
  if (setup_.several) {
    pieces.push_back(std::to_string(done_) + " done, " + std::to_string(failed_) + " failed");
  }
  return JoinToFit(pieces, columns);
}

std::string PortReporter::Named(const std::string& text) const {
  return setup_.several ? setup_.port + ": " + text : text;
}

}  // namespace vn

#include "form/form_model.h"

#include <algorithm>

#include "dld/upgrade_file_check.h"
#include "form/form_texts.h"
#include "link/port_failure.h"

namespace vn {

FormModel::FormModel(FormView& view, std::unique_ptr<ComPort> port, std::string programDir,
                     PortEntrySource ports)
    : view_(view),
      portSource_(std::move(ports)),
      viewThread_(std::this_thread::get_id()),
      station_(std::move(port), *this, std::move(programDir)) {
  state_.ports = portSource_();
  SetOperation(PositionOf(Operation::kDownload));
  shown_ = state_;
}

FormModel::~FormModel() {
  *alive_ = false;
  StopOperation();
  station_.Close();
}

void FormModel::Publish() {
  if (state_ == shown_) return;
  shown_ = state_;
  view_.Show(state_);
}

void FormModel::Deliver(std::function<void()> apply) {
  if (std::this_thread::get_id() == viewThread_) {
    apply();
    Publish();
    return;
  }
  const int run = run_.load();
  view_.PostToUiThread([this, alive = std::weak_ptr<bool>(alive_), run, apply = std::move(apply)] {
    const auto living = alive.lock();
    if (!living || !*living || run != run_.load()) return;
    apply();
    Publish();
  });
}

void FormModel::OnEvent(const LinkEvent& event) {
  if (event.kind == EventKind::kBytes) return;
  Deliver([this, event] { Apply(event); });
}

void FormModel::OnErrorBox(const std::string& text) {
  Deliver([this, text] { view_.ShowErrorBox(text); });
}

void FormModel::OnDetail(const std::string& text) {
  Deliver([this, text] { AddDetail(text); });
}

// Why a box failed goes beside the status text, in the system's words, before what the run told
// beside it (the part kept of an upload), which came as a detail of its own.
void FormModel::OnBoxEnd(const BoxOutcome& outcome) {
  if (outcome.result != BoxResult::kFailure) return;
  Failure words = outcome.failure;
  words.detail.clear();
  const std::string reason = FailureReason(outcome.failureKind, words);
  if (reason.empty()) return;
  Deliver([this, reason] {
    details_.insert(details_.begin(), reason);
    SetStatus(state_.status, state_.tone);
  });
}

void FormModel::Apply(const LinkEvent& event) {
  switch (event.kind) {
    case EventKind::kBar:
      state_.progressMaximum = std::max(event.count, 1);
      state_.progress = event.part;
      return;
    case EventKind::kBusy:
    case EventKind::kIdle:
      state_.choicesEnabled = event.kind == EventKind::kIdle;
      return;
    case EventKind::kBytes:
      return;
    case EventKind::kReport:
      // What a verify or identify found; the window runs neither, and its status line keeps the
      // operation's own texts.
      AddDetail(event.text);
      return;
    case EventKind::kWarning:
      // The status line shows only the operation's own texts; a warning goes with the details.
      AddDetail(event.text);
      return;
    case EventKind::kNotice:
      view_.ShowNotice(event.text);
      return;
    case EventKind::kStatus:
    case EventKind::kPercent:
    case EventKind::kFailure:
    case EventKind::kSuccess:
      break;
  }
  SetStatus(event.text, ToneOfEvent(event));
}

// The status line keeps the system's own texts; the reason and what was kept go beside it.
void FormModel::AddDetail(const std::string& text) {
  details_.push_back(text);
  SetStatus(state_.status, state_.tone);
}

// The whole status text, then the run's details, which later status texts must not push out.
void FormModel::SetStatus(std::string text, StatusTone tone) {
  state_.status = std::move(text);
  state_.tone = tone;
  std::string tip = state_.status;
  for (const std::string& detail : details_) {
    if (!tip.empty()) tip += '\n';
    tip += detail;
  }
  state_.statusToolTip = std::move(tip);
}

// An empty status line that no longer carries the last run's tooltip.
void FormModel::ClearStatus() {
  details_.clear();
  SetStatus({}, StatusTone::kNeutral);
}

void FormModel::SetOperation(int index) {
  state_.operationIndex = index;
  state_.openSaves = SelectedOperation() != Operation::kDownload;
  state_.openCaption = state_.openSaves ? kSaveCaption : kOpenCaption;
}

Operation FormModel::SelectedOperation() const {
  return OperationAt(state_.operationIndex).value_or(Operation::kDownload);
}

bool FormModel::StopOperation() {
  if (!station_.Stop()) return false;
  ++run_;
  return true;
}

void FormModel::StopOperationKeepingPort() {
  if (StopOperation()) OpenSelectedPort();
}

std::string FormModel::SelectedPortName() const {
  const size_t index = size_t(state_.portIndex);
  return index < state_.ports.size() ? state_.ports[index].name : std::string();
}

bool FormModel::OpenSelectedPort() {
  const bool opened = station_.Open(SelectedPortName());
  state_.portOpen = opened;
  // The lamp turning red says that the port failed; its tooltip says why.
  state_.lampToolTip = opened ? std::string() : DescribePortFailure(station_.LastOpenFailure());
  return opened;
}

void FormModel::WorkerFinished(int run) {
  if (run != run_.load() || !station_.Wait()) return;  // already stopped and joined
  // A pulled cable ends the operation with the port gone.
  const bool portLost = station_.Result().end == LoopEnd::kPortLost;
  state_.portOpen = !portLost && station_.PortOpened();
  Publish();
}

void FormModel::ChoosePort(int index) {
  if (index < 0 || size_t(index) >= state_.ports.size()) return;
  StopOperation();
  state_.portIndex = index;
  OpenSelectedPort();
  Publish();
}

void FormModel::ChooseOperation(int index) {
  if (!OperationAt(index)) return;
  // A wait for a box with the previous choice would go on unseen behind the cleared fields.
  StopOperationKeepingPort();
  SetOperation(index);
  ClearStatus();
  state_.fileName.clear();
  state_.progress = 0;
  Publish();
}

void FormModel::Open() {
  StopOperationKeepingPort();
  state_.fileName.clear();
  station_.ClearForOpen();
  Publish();
  if (SelectedOperation() != Operation::kDownload) {
    if (const auto file = view_.ChooseUploadFile(); file && !file->empty()) state_.fileName = *file;
    Publish();
    return;
  }
  const auto file = view_.ChooseDownloadFile();
  if (!file || file->empty()) return;
  state_.fileName = *file;
  // Told before Start, but not refused: the box judges the file in the end.
  Failure failure;
  station_.ChooseDownloadFile(*file, &failure);
  if (failure.Failed() || !CheckUpgradeImage(*station_.Image(), failure)) {
    SetStatus("Unsound file: " + FailureText(failure), StatusTone::kFailure);
  }
  Publish();
}

void FormModel::Start() {
  StopOperation();  // two operations never run at once
  if (!OpenSelectedPort()) {
    Publish();
    return;
  }
  // A refusal's reason goes beside it, without the last run's.
  details_.clear();
  const Operation operation = SelectedOperation();
  const std::string file = state_.fileName;
  switch (station_.CheckStart(operation, file)) {
    case StartCheck::kRefused:
      Publish();
      return;
    case StartCheck::kAskOverwrite:
      Publish();
      if (!view_.ConfirmOverwrite()) {
        state_.fileName.clear();
        Publish();
        return;
      }
      break;
    case StartCheck::kReady:
      break;
  }
  const int run = run_.load();
  details_.clear();
  state_.statusToolTip.clear();
  station_.Start({operation, file, 0, [this, alive = std::weak_ptr<bool>(alive_), run] {
                    // The worker's last act: the view's thread then joins it.
                    view_.PostToUiThread([this, alive, run] {
                      const auto living = alive.lock();
                      if (living && *living) WorkerFinished(run);
                    });
                  }});
  Publish();
}

void FormModel::Reset() {
  StopOperation();
  state_.progress = 0;
  station_.Close();
  state_.portOpen = false;
  state_.lampToolTip.clear();
  ClearStatus();
  state_.fileName.clear();
  state_.choicesEnabled = true;
  state_.portIndex = 0;
  SetOperation(PositionOf(Operation::kDownload));
  Publish();
}

void FormModel::Close() {
  Shutdown();
  view_.EndProcess();
}

void FormModel::Shutdown() {
  StopOperation();
  station_.Close();
  state_.portOpen = false;
  Publish();
}

void FormModel::RefreshPorts() {
  const std::string selected = SelectedPortName();
  state_.ports = portSource_();
  state_.portIndex = 0;
  if (!selected.empty()) state_.portIndex = EnsurePort(selected);
  Publish();
}

int FormModel::EnsurePort(const std::string& name) {
  const auto found = std::find_if(state_.ports.begin(), state_.ports.end(),
                                  [&name](const PortEntry& entry) { return entry.name == name; });
  if (found != state_.ports.end()) return int(found - state_.ports.begin());
  state_.ports.push_back({name, name, {}});
  Publish();
  return int(state_.ports.size()) - 1;
}

}  // namespace vn

#include "sim/virtual_box.h"

#include <atomic>
#include <random>
#include <thread>

#include "link/wire_format.h"
#include "sim/box_link.h"
#include "sim/box_session.h"
#include "sim/pty_line.h"

namespace vn {
namespace {

// A ready frame the PC has not acted on within this period is sent again: the PC may not have
// had its port open, or its open purged the frame.
constexpr std::chrono::milliseconds kReadyPeriod{300};
constexpr std::chrono::milliseconds kLookBeforeAnnouncing{1};
// A box that goes away lets the PC take what is already on the wire first, as a real cable
// would deliver it; the pseudo-terminal would throw it away on closing.
constexpr std::chrono::milliseconds kLastBytesLimit{2000};
constexpr std::chrono::milliseconds kLastBytesPoll{5};
constexpr uint8_t kCodeNotReady = 0x04;
constexpr size_t kGarbageBytes = 3;

}  // namespace

struct VirtualBox::State {
  BoxOptions options;
  BoxShared shared;
  PtyLine line;
  std::atomic<bool> stop{false};
  std::atomic<bool> running{false};
  std::thread thread;
  int startsHeard = 0;  // start commands received over the box's life

  void Serve();
  // Closes the line once the PC has read what the box sent, or after kLastBytesLimit.
  void CloseLine();
  // Idle: announces readiness until a start command comes; its code, or nullopt when stopped or
  // the line failed.
  std::optional<uint8_t> AwaitStart(BoxLink& link, bool afterSession);
  int Completed() const { return shared.stats.downloadsDone + shared.stats.uploadsDone; }
};

std::optional<uint8_t> VirtualBox::State::AwaitStart(BoxLink& link, bool afterSession) {
  // After a session the box restarts before it announces itself again; the PC is still taking
  // the session's last message. A restarting box hears nothing: what the PC sent meanwhile
  // answers no announcement (a start command sent on a report the box went on sending after the
  // PC had given up on it), and starts no session.
  if (afterSession) {
    if (!link.Sleep(kReadyPeriod)) return std::nullopt;
    link.DiscardInput();
  }
  std::mt19937 random{std::random_device{}()};
  // The faulty announcements alternate with good ones rather than come once: a PC that opens
  // the port late would otherwise never see them.
  bool faultyTurn = true;
  while (!stop) {
    // A start command that came in meanwhile is taken before announcing again: a ready frame
    // written now would reach the PC behind its start command and spoil its next read.
    bool broken = false;
    auto start = link.WaitStartCommand(kLookBeforeAnnouncing, broken);
    if (!start && !broken && !stop) {
      std::vector<uint8_t> announce;
      if (faultyTurn && options.faults.garbageBeforeReady) {
        for (size_t i = 0; i < kGarbageBytes; ++i) announce.push_back(uint8_t(random()));
      }
      const uint8_t code = faultyTurn && options.faults.nonReadyFirst ? kCodeNotReady : kCodeReady;
      const CommandFrame frame = MakeCommandFrame(code, 0);
      announce.insert(announce.end(), frame.begin(), frame.end());
      faultyTurn = !faultyTurn;
      // Written without dropping input: a start command may be on its way already.
      broken = !link.Write(announce) && !stop;
      if (!broken) start = link.WaitStartCommand(kReadyPeriod, broken);
    }
    if (broken) {
      shared.Update([](BoxStats& stats, auto&) { stats.lastError = "the pseudo-terminal failed"; });
      return std::nullopt;
    }
    // A start command damaged on the line is no start command: the box goes on announcing.
    const bool damaged = start && options.faults.damageReceived == FaultStep::kStart &&
                         ++startsHeard == options.faults.damageReceivedNth;
    if (start && !damaged) return start;
  }
  return std::nullopt;
}

void VirtualBox::State::Serve() {
  BoxLink link(line, stop, options.pace);
  link.SetObserver(options.trace);
  link.SetStall(options.faults.stallRead);
  for (bool afterSession = false;; afterSession = true) {
    const auto code = AwaitStart(link, afterSession);
    if (!code) break;
    shared.Update([&](BoxStats& stats, std::vector<uint8_t>& flash) {
      ++stats.sessionsStarted;
      if (options.beforeSession)
        options.beforeSession(stats.sessionsStarted, options.faults, flash);
    });
    // Another box in this one's place reads at its own pace.
    link.SetStall(options.faults.stallRead);
    BoxSession session(link, options, shared);
    const bool upload = *code == kCodeUpload;
    const SessionEnd end = upload ? session.RunUpload() : session.RunDownload();
    if (options.onSessionEnd) {
      options.onSessionEnd({upload, end == SessionEnd::kDone, session.Summary()});
    }
    if (end == SessionEnd::kVanished || end == SessionEnd::kStopped) break;
    std::lock_guard lock(shared.mutex);
    if (options.stopAfterSuccesses > 0 && Completed() >= options.stopAfterSuccesses) break;
  }
  // Whatever ended the box, the PC sees its line go away rather than wait for ever.
  CloseLine();
  shared.Update([this](BoxStats&, auto&) { running = false; });
}

void VirtualBox::State::CloseLine() {
  const auto deadline = std::chrono::steady_clock::now() + kLastBytesLimit;
  // Closing the master hangs the line up, which empties the PC's input queue: the box's last
  // report would be lost with it. Unread counts bytes still on their way too.
  while (!stop && line.Unread() > 0 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kLastBytesPoll);
  }
  line.Close();
}

VirtualBox::VirtualBox(BoxOptions options) : state_(std::make_unique<State>()) {
  state_->options = std::move(options);
  std::vector<uint8_t>& flash = state_->shared.flash;
  flash = state_->options.flash;
  flash.resize(kFlashSize, kErasedByte);
  state_->options.flash.clear();
}

VirtualBox::~VirtualBox() {
  Stop();
}

bool VirtualBox::Start() {
  State& s = *state_;
  if (s.running) return true;
  if (s.thread.joinable()) s.thread.join();
  Failure failure;
  if (!s.line.Open(failure)) {
    s.shared.Update([&](BoxStats& stats, auto&) { stats.lastError = FailureText(failure); });
    return false;
  }
  ptyPath_ = s.line.SlavePath();
  s.stop = false;
  s.running = true;
  s.thread = std::thread([&s] { s.Serve(); });
  return true;
}

const std::string& VirtualBox::PtyPath() const {
  return ptyPath_;
}

void VirtualBox::Stop() {
  State& s = *state_;
  s.stop = true;
  if (s.thread.joinable()) s.thread.join();
  s.line.Close();
  s.running = false;
}

bool VirtualBox::WaitSessions(int count, std::chrono::milliseconds timeout) {
  State& s = *state_;
  std::unique_lock lock(s.shared.mutex);
  s.shared.changed.wait_for(lock, timeout, [&] { return s.Completed() >= count || !s.running; });
  return s.Completed() >= count;
}

bool VirtualBox::Running() const {
  return state_->running;
}

std::vector<uint8_t> VirtualBox::FlashCopy() const {
  std::lock_guard lock(state_->shared.mutex);
  return state_->shared.flash;
}

BoxStats VirtualBox::Stats() const {
  std::lock_guard lock(state_->shared.mutex);
  return state_->shared.stats;
}

}  // namespace vn

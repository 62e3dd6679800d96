// A production line on a busy PC: N stations, each serving box after box (downloads and uploads
// in turn) from its own paced virtual box, while M busy threads compete with them for the cores.
// Whether any box is reported failed that its own record shows completed (a false failure), and
// whether the load costs the line any speed. A quiet round with the same boxes comes first, for
// the figures to compare against.
//
//   bench_load [--stations N] [--boxes B] [--busy M] [--set SET] [--loaded-only] [--plain-boxes]
//              [--raised-workers]
//
// Rounds: quiet; loaded; with --raised-workers also loaded with the stations' workers in the
// real-time round-robin class. The virtual boxes run in that class where allowed, since a real
// box has a processor of its own (--plain-boxes: as any thread).
//
// Defaults: 4 stations, 12 boxes each, 2 busy threads, the key set (1 region, about 3 s on the
// line each way). A 1 ms polling loop runs beside the stations in both rounds and reports how
// late it wakes: the PC's own wake-up delay, quiet and under load.
//
// Efficiency, per box, is the line time of every byte of the transfer phase (descriptors, data
// frames, the read request, their ACKs) against that phase's wall time, as in
// bench_many_stations; a station's figure is the mean over its boxes that succeeded.
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench_args.h"
#include "bench_files.h"
#include "cable_count.h"
#include "dld/region_sets.h"
#include "link/station.h"
#include "link/system_port.h"
#include "phase_clock.h"
#include "sim/virtual_box.h"

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;

// A hang guard only: one box of the key set takes a few seconds.
constexpr std::chrono::minutes kJobGuard{2};
// A box the PC gave up on ends its session once the PC has been silent this long (and more).
constexpr std::chrono::seconds kSessionEndGuard{10};
constexpr double kEfficiencyTolerance = 0.01;
constexpr microseconds kPollPeriod{1000};

// Moves the calling thread into the real-time round-robin class, low in it; false when the user
// may not.
bool RaiseThisThread() {
  sched_param param{};
  param.sched_priority = 10;
  return sched_setscheduler(0, SCHED_RR, &param) == 0;
}

struct Options {
  int stations = 4;
  int boxes = 12;
  int busy = 2;
  Operation upload = Operation::kUploadKey;
  bool quietRound = true;
  bool plainBoxes = false;  // the boxes compete for the cores as any thread
  bool raisedWorkers = false;
};

// The station's observer: the transfer phase's clock, and the link's health as last reported.
class LaneClock : public PhaseClock {
 public:
  // Whether the next run's worker moves into the real-time class at its first event.
  void RaiseWorker(bool raise) { raise_ = raise; }
  void OnEvent(const LinkEvent& event) override {
    if (raise_) raise_ = !RaiseThisThread();
    PhaseClock::OnEvent(event);
    link_ = event.link;
    if (event.kind == EventKind::kWarning) warning_ = event.text;
  }
  const LinkCounters& Link() const { return link_; }
  const std::string& Warning() const { return warning_; }

 private:
  LinkCounters link_;
  std::string warning_;
  bool raise_ = false;
};

struct LaneFigures {
  int boxes = 0;
  int succeeded = 0;
  int falseFailures = 0;   // the PC said failed; the box's own record says completed
  int realFailures = 0;    // both say failed
  int falseSuccesses = 0;  // the PC said done; the box did not complete (must never happen)
  double efficiencySum = 0;
  double answerDelayMsSum = 0;
  double wakeupDelayMsSum = 0;
  std::vector<std::string> failures;
  std::string warning;

  double Efficiency() const { return succeeded > 0 ? efficiencySum / succeeded : 0; }
};

// One station and its box. The box tells of every session it ends; the station's jobs are
// matched with them in order.
class Lane {
 public:
  Lane(int number, const std::string& folder, bool raiseBox)
      : raiseBox_(raiseBox),
        number_(number),
        folder_(folder),
        box_(BoxSetup()),
        station_(MakeSystemComPort(), clock_, folder) {}

  bool Open() { return box_.Start() && station_.Open(box_.PtyPath()); }
  void Close() {
    station_.Close();
    box_.Stop();
  }

  // Serves `boxes` boxes, downloads and uploads in turn.
  void Run(int boxes, Operation upload, bool highPriority, const std::string& download,
           const CableCount& downCount, const CableCount& upCount) {
    station_.ChooseDownloadFile(download);
    for (int job = 0; job < boxes; ++job) {
      const bool isDownload = job % 2 == 0;
      const std::string file = isDownload ? download : folder_ + "/backup.dld";
      const int sessionsBefore = box_.Stats().sessionsStarted;
      clock_.RaiseWorker(highPriority);
      station_.Start({isDownload ? Operation::kDownload : upload, file, 1});
      if (!station_.WaitFor(kJobGuard)) station_.Stop();
      const bool pcDone = station_.Result().boxesDone == 1;
      const bool boxDone = SessionCompleted(sessionsBefore);
      ++figures_.boxes;
      if (pcDone && boxDone) {
        ++figures_.succeeded;
        const double ideal = (isDownload ? downCount : upCount).LineSeconds();
        figures_.efficiencySum += ideal / clock_.WallSeconds();
        figures_.answerDelayMsSum += clock_.Link().MeanAnswerDelayMs();
        figures_.wakeupDelayMsSum += clock_.Link().MeanWakeupDelayMs();
      } else if (pcDone) {
        ++figures_.falseSuccesses;
      } else {
        ++(boxDone ? figures_.falseFailures : figures_.realFailures);
        const LinkCounters& link = clock_.Link();
        figures_.failures.push_back(
            std::string(boxDone ? "false: " : "real: ") + (isDownload ? "download, " : "upload, ") +
            clock_.LastStatus() + " (time-outs " + std::to_string(link.timeouts) + ", NAKs sent " +
            std::to_string(link.naksSent) + ", resends " + std::to_string(link.framesResent) + ")");
      }
      if (!station_.PortOpened() && !station_.Open(box_.PtyPath())) break;
    }
    figures_.warning = clock_.Warning();
  }

  int Number() const { return number_; }
  const LaneFigures& Figures() const { return figures_; }

 private:
  BoxOptions BoxSetup() {
    BoxOptions options;
    options.pace = true;
    options.flash = SampleFlashImage(1);
    // A real box has a processor of its own: the PC's load must not slow its answers.
    options.beforeSession = [this](int, BoxFaults&, std::vector<uint8_t>&) {
      if (raiseBox_) raiseBox_ = !RaiseThisThread();
    };
    options.onSessionEnd = [this](const BoxSessionReport& report) {
      std::lock_guard lock(mutex_);
      completed_.push_back(report.completed);
    };
    return options;
  }

  // Whether the box's session for the job just run (if one started) completed, by its own record.
  bool SessionCompleted(int sessionsBefore) {
    if (box_.Stats().sessionsStarted == sessionsBefore) return false;
    const auto deadline = Clock::now() + kSessionEndGuard;
    for (;;) {
      {
        std::lock_guard lock(mutex_);
        if (int(completed_.size()) > sessionsBefore) return completed_[size_t(sessionsBefore)];
      }
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  bool raiseBox_;  // until the box's thread has been raised
  int number_;
  std::string folder_;
  std::mutex mutex_;
  std::vector<bool> completed_;  // one per session the box ended, in order
  LaneClock clock_;
  VirtualBox box_;
  Station station_;
  LaneFigures figures_;
};

// How late a 1 ms sleep ends, sampled for as long as it runs.
class PollProbe {
 public:
  PollProbe() : thread_([this] { Run(); }) {}
  ~PollProbe() { Stop(); }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  double MeanMs() const { return Mean() / 1000.0; }
  double QuantileMs(double q) const {
    if (late_.empty()) return 0;
    std::vector<int64_t> sorted = late_;
    std::sort(sorted.begin(), sorted.end());
    return double(sorted[size_t(q * double(sorted.size() - 1))]) / 1000.0;
  }

 private:
  void Run() {
    while (!stop_) {
      const Clock::time_point start = Clock::now();
      std::this_thread::sleep_for(kPollPeriod);
      const auto slept = std::chrono::duration_cast<microseconds>(Clock::now() - start);
      late_.push_back(std::max<int64_t>(0, (slept - kPollPeriod).count()));
    }
  }
  double Mean() const {
    if (late_.empty()) return 0;
    double sum = 0;
    for (int64_t value : late_) sum += double(value);
    return sum / double(late_.size());
  }

  std::atomic<bool> stop_{false};
  std::vector<int64_t> late_;
  std::thread thread_;
};

// Threads that never sleep, as other busy programs on the PC.
class BusyThreads {
 public:
  explicit BusyThreads(int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this] {
        volatile uint64_t spin = 0;
        while (!stop_) spin = spin + 1;
      });
    }
  }
  ~BusyThreads() {
    stop_ = true;
    for (std::thread& thread : threads_) thread.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

struct Round {
  std::vector<LaneFigures> lanes;
  double probeMeanMs = 0, probeP99Ms = 0, probeMaxMs = 0;
  double seconds = 0;
};

std::optional<Round> RunRound(const Options& options, int busy, bool highPriority,
                              const std::string& root, const std::string& download,
                              const CableCount& downCount, const CableCount& upCount) {
  std::vector<std::unique_ptr<Lane>> lanes;
  for (int i = 1; i <= options.stations; ++i) {
    const std::string folder = root + "/station-" + std::to_string(i);
    std::filesystem::create_directories(folder);
    lanes.push_back(std::make_unique<Lane>(i, folder, !options.plainBoxes));
    if (!lanes.back()->Open()) {
      std::printf("station %d: no virtual box or port\n", i);
      return std::nullopt;
    }
  }
  const Clock::time_point start = Clock::now();
  BusyThreads load(busy);
  PollProbe probe;
  std::vector<std::thread> runners;
  for (auto& lane : lanes) {
    runners.emplace_back([&, self = lane.get()] {
      self->Run(options.boxes, options.upload, highPriority, download, downCount, upCount);
    });
  }
  for (std::thread& runner : runners) runner.join();
  probe.Stop();
  Round round;
  round.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  round.probeMeanMs = probe.MeanMs();
  round.probeP99Ms = probe.QuantileMs(0.99);
  round.probeMaxMs = probe.QuantileMs(1.0);
  for (auto& lane : lanes) {
    lane->Close();
    round.lanes.push_back(lane->Figures());
  }
  return round;
}

void PrintRound(const char* title, const Round& round) {
  std::printf(
      "%s (%.0f s); a 1 ms poll wakes late by %.2f ms on average, %.2f ms at the 99th "
      "percentile, %.2f ms at most\n",
      title, round.seconds, round.probeMeanMs, round.probeP99Ms, round.probeMaxMs);
  std::printf("%-7s %5s %6s %6s %5s %10s %9s %9s\n", "station", "boxes", "false", "real", "false",
              "efficiency", "answer ms", "wake ms");
  std::printf("%-7s %5s %6s %6s %5s %10s %9s %9s\n", "", "", "fail", "fail", "succ", "", "", "");
  for (size_t i = 0; i < round.lanes.size(); ++i) {
    const LaneFigures& lane = round.lanes[i];
    const double n = lane.succeeded > 0 ? lane.succeeded : 1;
    std::printf("%-7zu %5d %6d %6d %5d %10.4f %9.2f %9.2f\n", i + 1, lane.boxes, lane.falseFailures,
                lane.realFailures, lane.falseSuccesses, lane.Efficiency(),
                lane.answerDelayMsSum / n, lane.wakeupDelayMsSum / n);
    for (const std::string& failure : lane.failures) std::printf("  %s\n", failure.c_str());
    if (!lane.warning.empty()) std::printf("  warning: %s\n", lane.warning.c_str());
  }
}

double MeanEfficiency(const Round& round) {
  double sum = 0;
  int count = 0;
  for (const LaneFigures& lane : round.lanes) {
    if (lane.succeeded == 0) continue;
    sum += lane.Efficiency();
    ++count;
  }
  return count > 0 ? sum / count : 0;
}

int FalseFailures(const Round& round) {
  int count = 0;
  for (const LaneFigures& lane : round.lanes) count += lane.falseFailures + lane.falseSuccesses;
  return count;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  BenchArgs args(argc, argv);
  while (args.Next()) {
    if (args.Is("--raised-workers")) {
      options.raisedWorkers = true;
    } else if (args.Is("--plain-boxes")) {
      options.plainBoxes = true;
    } else if (args.Is("--loaded-only")) {
      options.quietRound = false;
    } else if (!args.Set("--set", options.upload) &&
               !args.Number("--stations", 1, 32, options.stations) &&
               !args.Number("--boxes", 1, 1000, options.boxes) &&
               !args.Number("--busy", 0, 64, options.busy)) {
      return std::nullopt;
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::printf(
        "usage: %s [--stations N] [--boxes B] [--busy M] [--set SET] [--loaded-only]\n"
        "  SET: %s\n",
        argv[0], SetNameChoices().c_str());
    return 2;
  }
  ScratchFolder scratch;
  const std::optional<BenchFile> file =
      MakeBenchFile(scratch, options->upload, SampleFlashImage(1));
  if (!file) return 1;
  std::printf(
      "%d stations x %d boxes (downloads and uploads in turn) of the %s set, paced\n"
      "virtual boxes at 115200 bit/s; %u cores; %d busy threads in the loaded round.\n"
      "false fail = the PC reported a failure, the box's own record says it completed;\n"
      "false succ = the PC reported a success the box did not complete. answer ms and\n"
      "wake ms: the stations' own tallies, mean over the boxes that succeeded.\n\n",
      options->stations, options->boxes, std::string(SetName(options->upload)).c_str(),
      std::thread::hardware_concurrency(), options->busy);
  std::fflush(stdout);
  std::optional<Round> quiet;
  if (options->quietRound) {
    quiet = RunRound(*options, 0, false, scratch.File("quiet"), file->path, file->down, file->up);
    if (!quiet) return 1;
    PrintRound("quiet", *quiet);
    std::printf("\n");
    std::fflush(stdout);
  }
  const auto loaded = RunRound(*options, options->busy, false, scratch.File("loaded"), file->path,
                               file->down, file->up);
  if (!loaded) return 1;
  PrintRound("loaded", *loaded);
  std::fflush(stdout);
  std::optional<Round> raised;
  if (options->raisedWorkers) {
    std::printf("\n");
    raised = RunRound(*options, options->busy, true, scratch.File("raised"), file->path, file->down,
                      file->up);
    if (!raised) return 1;
    PrintRound("loaded, workers in the real-time class", *raised);
  }
  const int falseFailures = FalseFailures(*loaded) + (raised ? FalseFailures(*raised) : 0) +
                            (quiet ? FalseFailures(*quiet) : 0);
  std::printf("\ntarget: no false failure or false success: %s (%d)\n",
              falseFailures == 0 ? "met" : "NOT met", falseFailures);
  if (quiet) {
    const double before = MeanEfficiency(*quiet);
    const auto compare = [&](const char* name, const Round& round) {
      const double after = MeanEfficiency(round);
      const double change = before > 0 ? (after - before) / before : 0;
      std::printf(
          "target: efficiency under load%s within %.0f %% of quiet (%.4f vs %.4f, %+.2f "
          "%%): %s\n",
          name, 100 * kEfficiencyTolerance, after, before, 100 * change,
          change >= -kEfficiencyTolerance ? "met" : "NOT met");
    };
    compare("", *loaded);
    if (raised) compare(" (workers in the real-time class)", *raised);
  }
  return falseFailures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace vn

int main(int argc, char** argv) {
  return vn::Main(argc, argv);
}

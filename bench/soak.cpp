// Soak: boxes in a row on the download loop and uploads one after another, each box with a
// seeded random fault the tool is meant to recover from. Every box flashed is compared byte for
// byte with the file's regions, every backup with the flash it was read from.
//
//   bench_soak [--boxes N] [--uploads N] [--seed S]     200 boxes and 50 uploads by default
//
// Reports boxes served, faults injected and recovered, false successes (a success reported for a
// box whose flash or backup is wrong, or that never finished: must be 0) and hangs (no status for
// kQuietLimit: the run is stopped as Reset would).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench_args.h"
#include "bench_files.h"
#include "dld/extract.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/link_observer.h"
#include "link/station.h"
#include "link/system_port.h"
#include "sim/box_fault_option.h"
#include "sim/virtual_box.h"

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;

// Two regions: every injected failure report is survivable.
constexpr Operation kRegionSet = Operation::kUploadDefault;
// Longer than any wait of a recovering run without a status (ten lost answers at 5 s each).
constexpr std::chrono::seconds kQuietLimit{60};

int Between(std::mt19937& random, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(random);
}

std::string Number(std::mt19937& random, int low, int high) {
  return std::to_string(Between(random, low, high));
}

// Sets the faults written as on vespanode-box's command line; the first one's name, for the log.
std::string Inject(const std::vector<std::string>& options, BoxFaults& faults) {
  faults = {};
  std::string error;
  for (const std::string& option : options) {
    if (!ApplyFaultOption(option, faults, error)) std::fprintf(stderr, "soak: %s\n", error.c_str());
  }
  return options.empty() ? "" : options.front().substr(0, options.front().find('='));
}

// One fault a download should recover from.
std::string PickDownloadFault(std::mt19937& random, BoxFaults& faults) {
  static const char* const kKinds[] = {"header", "descriptor", "frame"};
  switch (Between(random, 0, 8)) {
    case 0:
      return Inject(
          {"nak-frame=" + Number(random, 1, 3), "nak-frame-times=" + Number(random, 1, 9)}, faults);
    case 1:
      return Inject({"nak-ack=" + Number(random, 1, 4), "nak-ack-times=" + Number(random, 1, 9)},
                    faults);
    case 2:
      return Inject({"drop-ack=" + Number(random, 1, 4)}, faults);
    case 3:
      return Inject({"damage-received=" + std::string(kKinds[Between(random, 0, 2)]),
                     "damage-received-nth=" + Number(random, 1, 2)},
                    faults);
    case 4:
      return Inject({"garbage-before-ready"}, faults);
    case 5:
      return Inject({"erase-fail-at=" + Number(random, 1, 2)}, faults);
    case 6:
      return Inject({"program-fail-at=" + Number(random, 1, 2)}, faults);
    case 7:
      return Inject({"back-to-back=verdict"}, faults);
    default:
      return Inject({}, faults);  // a box without a fault now and then
  }
}

std::string PickUploadFault(std::mt19937& random, BoxFaults& faults) {
  switch (Between(random, 0, 6)) {
    case 0:
      return Inject(
          {"corrupt-frame=" + Number(random, 1, 4), "corrupt-frame-times=" + Number(random, 1, 9)},
          faults);
    case 1:
      return Inject({"bad-complement-frame=" + Number(random, 1, 4)}, faults);
    case 2:
      return Inject({"bad-descriptor-crc=" + Number(random, 1, 2),
                     "bad-descriptor-crc-times=" + Number(random, 1, 9)},
                    faults);
    case 3:
      return Inject({"drop-ack=1"}, faults);
    case 4:
      return Inject({"damage-received=request"}, faults);
    case 5:
      return Inject({"garbage-before-ready"}, faults);
    default:
      return Inject({}, faults);
  }
}

bool RegionsMatch(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& truth) {
  for (const UploadRegion& region : UploadRegionList(kRegionSet)) {
    if (RegionOfImage(flash, region.address, region.size) !=
        RegionOfImage(truth, region.address, region.size)) {
      return false;
    }
  }
  return true;
}

// Keeps the last status and stops the run when nothing has been shown for kQuietLimit, through
// the station's stop, as the window's Reset does.
class QuietGuard : public LinkObserver {
 public:
  QuietGuard() {
    thread_ = std::thread([this] { Guard(); });
  }
  ~QuietGuard() override {
    {
      std::lock_guard lock(mutex_);
      ending_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }
  void OnEvent(const LinkEvent& event) override {
    if (!event.HasStatusText()) return;
    std::lock_guard lock(mutex_);
    last_ = event.text;
    lastAt_ = Clock::now();
  }
  // The station now running, or nullptr when none is.
  void Watch(Station* station) {
    std::lock_guard lock(mutex_);
    station_ = station;
    lastAt_ = Clock::now();
  }
  int Hangs() const {
    std::lock_guard lock(mutex_);
    return hangs_;
  }
  std::string Last() const {
    std::lock_guard lock(mutex_);
    return last_;
  }

 private:
  void Guard() {
    std::unique_lock lock(mutex_);
    while (!ending_) {
      changed_.wait_for(lock, std::chrono::seconds(1));
      if (ending_ || !station_ || Clock::now() - lastAt_ < kQuietLimit) continue;
      ++hangs_;
      lastAt_ = Clock::now();
      station_->RequestStop();
    }
  }

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::thread thread_;
  bool ending_ = false;
  Station* station_ = nullptr;
  std::string last_;
  Clock::time_point lastAt_ = Clock::now();
  int hangs_ = 0;
};

// What the box saw of each session (one box each), filled on its thread.
struct SessionLog {
  std::mutex mutex;
  std::vector<std::string> faults;           // the fault injected, "" for none
  std::vector<std::vector<uint8_t>> truths;  // the flash the box had at the start
  std::vector<bool> good;  // the box ran the operation to its end (download: with the right flash)
};

struct Tally {
  int served = 0;  // operations that succeeded on both sides with the right bytes
  int injected = 0;
  int recovered = 0;
  int falseSuccesses = 0;
  int hangs = 0;
  int failures = 0;  // runs the PC ended as failed
  double seconds = 0;
};

void Print(const char* what, int asked, const Tally& tally) {
  std::printf(
      "%-9s %4d asked  %4d served  %4d faults injected  %4d recovered  %d false "
      "successes  %d hangs  %d failures  %.0f s\n",
      what, asked, tally.served, tally.injected, tally.recovered, tally.falseSuccesses, tally.hangs,
      tally.failures, tally.seconds);
}

// One virtual box that becomes another box at every start command, and the PC's station on it.
class Rig {
 public:
  // Picks the next box's fault (its name, "" for none) and flash image.
  using NextBox = std::function<std::string(BoxFaults& faults, std::vector<uint8_t>& flash)>;
  // Whether a box's flash is right after a completed session.
  using FlashRight = std::function<bool(const std::vector<uint8_t>& flash)>;

  Rig(NextBox nextBox, FlashRight flashRight) {
    BoxOptions options;
    options.beforeSession = [this, nextBox](int, BoxFaults& faults, std::vector<uint8_t>& flash) {
      std::string fault = nextBox(faults, flash);
      // Noise before the ready frame is set once this box has started, so it reaches the PC
      // before the next box: the fault belongs to that box, and this one runs without it.
      const bool noiseNow = std::exchange(noiseForNextBox_, faults.garbageBeforeReady);
      if (faults.garbageBeforeReady) fault.clear();
      if (noiseNow)
        fault = fault.empty() ? "garbage-before-ready" : "garbage-before-ready+" + fault;
      std::lock_guard lock(log.mutex);
      log.faults.push_back(std::move(fault));
      log.truths.push_back(flash);
    };
    options.onSessionEnd = [this, flashRight](const BoxSessionReport& report) {
      const bool good = report.completed && flashRight(box_->FlashCopy());
      std::lock_guard lock(log.mutex);
      log.good.push_back(good);
    };
    box_ = std::make_unique<VirtualBox>(std::move(options));
    ready_ = box_->Start() && station_.Open(box_->PtyPath());
  }
  ~Rig() {
    station_.Close();
    box_->Stop();
  }
  bool Ready() const { return ready_; }

  // Runs the operation's loop for up to `boxes` boxes under the quiet guard; the boxes done.
  LoopResult Run(Operation operation, const std::string& file, int boxes, Tally& tally) {
    if (operation == Operation::kDownload) station_.ChooseDownloadFile(file);
    guard_.Watch(&station_);
    const bool started = station_.Start({operation, file, boxes});
    station_.Wait();
    guard_.Watch(nullptr);
    const LoopResult result = started ? station_.Result() : LoopResult{};
    if (result.boxesDone < boxes) {
      ++tally.failures;
      std::fprintf(stderr, "soak: a run ended with \"%s\"\n", guard_.Last().c_str());
    }
    // A hang ended through the port's cancel, which leaves the port spent: open it afresh.
    if (!station_.PortOpened()) station_.Open(box_->PtyPath());
    return result;
  }
  // Waits until every session the box started has ended and been logged: it finishes just after
  // the PC, or after the PC's silence when the PC gave up.
  void Settle() {
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      {
        std::lock_guard lock(log.mutex);
        if (log.good.size() == log.faults.size()) return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  int Hangs() const { return guard_.Hangs(); }

  SessionLog log;
  ScratchFolder scratch;

 private:
  std::unique_ptr<VirtualBox> box_;
  QuietGuard guard_;
  Station station_{MakeSystemComPort(), guard_, scratch.Path()};
  bool ready_ = false;
  bool noiseForNextBox_ = false;  // the box's thread alone reads and sets it
};

// Counts the faults and their outcome from the box's log, against the PC's successes.
void Reckon(SessionLog& log, int pcSuccesses, Tally& tally) {
  std::lock_guard lock(log.mutex);
  int good = 0;
  for (size_t i = 0; i < log.faults.size(); ++i) {
    const bool sessionGood = i < log.good.size() && log.good[i];
    if (!log.faults[i].empty()) ++tally.injected;
    if (!sessionGood) {
      std::fprintf(stderr, "soak: box %zu with fault \"%s\" did not end right\n", i + 1,
                   log.faults[i].c_str());
      continue;
    }
    ++good;
    if (!log.faults[i].empty()) ++tally.recovered;
  }
  tally.served = std::min(good, pcSuccesses);
  tally.falseSuccesses += std::max(0, pcSuccesses - good);
}

// The download loop over `boxes` boxes in a row; a failure starts the loop again for the rest.
Tally SoakDownloads(int boxes, uint32_t seed) {
  Tally tally;
  std::mt19937 random(seed);
  const std::vector<uint8_t> truth = SampleFlashImage(random());
  Rig rig(
      [&](BoxFaults& faults, std::vector<uint8_t>& flash) {
        flash = SampleFlashImage(random());  // the old firmware of the box plugged in
        return PickDownloadFault(random, faults);
      },
      [&](const std::vector<uint8_t>& flash) { return RegionsMatch(flash, truth); });
  const auto packed = PackUpgradeFile(RegionSetOf(kRegionSet), truth, LabBoxIdentity());
  const std::string file = rig.scratch.File("firmware.dld");
  if (!rig.Ready() || !packed || !WriteBytes(file, *packed)) {
    std::fprintf(stderr, "soak: no virtual box or no download file\n");
    return {.failures = 1};
  }
  const auto start = Clock::now();
  int tried = 0, successes = 0;
  while (tried < boxes) {
    const LoopResult result = rig.Run(Operation::kDownload, file, boxes - tried, tally);
    successes += result.boxesDone;
    tried += result.boxesDone;
    if (tried < boxes) ++tried;  // the loop ended early: that box failed or hung
  }
  rig.Settle();
  tally.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  tally.hangs = rig.Hangs();
  Reckon(rig.log, successes, tally);
  return tally;
}

// `uploads` backups one after another, each from a box with a flash and a fault of its own.
Tally SoakUploads(int uploads, uint32_t seed) {
  Tally tally;
  std::mt19937 random(seed ^ 0x5EED5EEDu);
  Rig rig(
      [&](BoxFaults& faults, std::vector<uint8_t>& flash) {
        flash = SampleFlashImage(random());
        return PickUploadFault(random, faults);
      },
      [](const std::vector<uint8_t>&) { return true; });
  if (!rig.Ready()) {
    std::fprintf(stderr, "soak: no virtual box\n");
    return {.failures = 1};
  }
  const auto start = Clock::now();
  int successes = 0;
  for (int i = 0; i < uploads; ++i) {
    const std::string file = rig.scratch.File("backup-" + std::to_string(i) + ".dld");
    if (rig.Run(kRegionSet, file, 1, tally).boxesDone != 1) continue;
    ++successes;
    rig.Settle();
    // The backup must hold exactly what the box that made it holds.
    std::vector<uint8_t> truth;
    {
      std::lock_guard lock(rig.log.mutex);
      truth = rig.log.truths.back();
    }
    std::vector<uint8_t> image;
    if (!ExtractIntoImage(ReadBytes(file), image) || !RegionsMatch(image, truth)) {
      ++tally.falseSuccesses;
      std::fprintf(stderr, "soak: backup %d differs from its box\n", i);
    }
  }
  tally.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  tally.hangs = rig.Hangs();
  Reckon(rig.log, successes, tally);
  return tally;
}

int Main(int argc, char** argv) {
  int boxes = 200, uploads = 50, seed = 1;
  for (BenchArgs args(argc, argv); args.Next();) {
    if (!args.Number("--boxes", 0, 100000, boxes) &&
        !args.Number("--uploads", 0, 100000, uploads) && !args.Number("--seed", 0, 100000, seed)) {
      std::fprintf(stderr, "usage: bench_soak [--boxes N] [--uploads N] [--seed S]\n");
      return 2;
    }
  }
  std::printf("soak: seed %d\n", seed);
  const Tally downloads = SoakDownloads(boxes, uint32_t(seed));
  Print("downloads", boxes, downloads);
  const Tally ups = SoakUploads(uploads, uint32_t(seed));
  Print("uploads", uploads, ups);
  const bool sound = downloads.served == boxes && ups.served == uploads &&
                     downloads.falseSuccesses + ups.falseSuccesses == 0 &&
                     downloads.hangs + ups.hangs == 0 &&
                     downloads.recovered == downloads.injected && ups.recovered == ups.injected;
  std::printf("soak: %s\n",
              sound ? "every fault recovered, no false success, no hang" : "FAILED: see above");
  return sound ? 0 : 1;
}

}  // namespace
}  // namespace vn

int main(int argc, char** argv) {
  return vn::Main(argc, argv);
}

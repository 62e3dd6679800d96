// Transfer rate against a virtual box paced at the line rate: how close our lock-step waits come
// to the time the bytes need on the cable, what the PC spends on the CPU meanwhile, and how much
// memory the largest upload and its download take.
//
//   bench_transfer_rate          key, default and loader sets, both directions (well under 60 s)
//   bench_transfer_rate --full   the same plus the 27-region app set (several minutes)
//
// The transfer phase runs from "Transfer..." to "Transfer Success!". Its ideal time is the line
// time of every byte that crosses the cable meanwhile, in both directions: descriptors, data
// frames, the read request and every ACK, 11 bits a byte at 115200 bit/s. The exchange is
// lock-step, so nothing overlaps and the ideal is simply the sum, plus for an upload the time the
// box takes to read and pack each region before it sends its descriptor.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "bench_files.h"
#include "cable_count.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/station.h"
#include "link/system_port.h"
#include "link/verify.h"
#include "link/wire_format.h"
#include "phase_clock.h"
#include "sim/virtual_box.h"

namespace vn {
namespace {

using Clock = std::chrono::steady_clock;
using Seconds = std::chrono::duration<double>;

// A hang guard only: a paced app set takes about three minutes per direction.
constexpr std::chrono::minutes kRunGuard{10};

// ---------------------------------------------------------------------------------------------
// Memory.

long PeakRssKiB() {
  rusage self{};
  getrusage(RUSAGE_SELF, &self);
  return self.ru_maxrss;
}

// ---------------------------------------------------------------------------------------------
// One operation against a fresh virtual box.

struct RunResult {
  bool ok = false;
  std::string failure;  // the last status text, when not ok
  double wall = 0;      // transfer phase, seconds
  CpuTimes cpu;
  double medianFrameGap = 0;
  BoxStats box;
};

// `task`, when given, runs on the box instead of the operation (a verify).
RunResult RunOperation(Operation operation, const std::string& file, bool pace,
                       const std::vector<uint8_t>& flash, const std::string& programDir,
                       std::shared_ptr<BoxTask> task = nullptr) {
  BoxOptions options;
  options.pace = pace;
  options.flash = flash;
  options.stopAfterSuccesses = 1;
  VirtualBox box(std::move(options));
  RunResult result;
  PhaseClock clock;
  Station station(MakeSystemComPort(), clock, programDir);
  if (!box.Start() || !station.Open(box.PtyPath())) {
    result.failure = "no virtual box: " + box.Stats().lastError;
    return result;
  }
  if (operation == Operation::kDownload) station.ChooseDownloadFile(file);
  StationJob job(operation, file, 1);
  job.options.task = std::move(task);
  station.Start(std::move(job));
  // A run that hangs is ended as the window's Reset would end it.
  if (!station.WaitFor(kRunGuard)) station.Stop();
  result.ok = station.Result().boxesDone == 1 && clock.Succeeded();
  // The box may still be in the pacing of its last write; let it finish before its counts are read.
  if (result.ok) box.WaitSessions(1, std::chrono::seconds(5));
  station.Close();
  box.Stop();
  result.failure = result.ok ? "" : clock.LastStatus();
  result.wall = clock.WallSeconds();
  result.cpu = clock.Cpu();
  result.medianFrameGap = clock.MedianFrameGap();
  result.box = box.Stats();
  return result;
}

// ---------------------------------------------------------------------------------------------
// The table.

void PrintTableHead() {
  std::printf("%-8s %-8s %3s %8s %6s %9s %8s %9s %6s %14s %7s %7s %7s\n", "set", "dir", "N",
              "data B", "frames", "cable B", "ideal s", "measured", "ratio", "frame ms/ideal",
              "PC cpu", "all cpu", "resends");
}

// `direction`: "download", "upload", or "verify" (an upload of the same regions, compared as they
// come instead of written).
void PrintRow(const RegionSet& set, const char* direction, const CableCount& count,
              const RunResult& run) {
  const bool download = direction == std::string("download");
  // An upload also waits, once a region, for the box to read and pack it before its descriptor:
  // the box's own work, which no PC can save.
  const double boxWork =
      download ? 0.0
               : count.regions * std::chrono::duration<double>(BoxOptions{}.prepareTime).count();
  const double ideal = count.LineSeconds() + boxWork;
  const double frameIdeal = (kDataFrameSize + 1) * kSecondsPerByte;
  const int resends = run.box.framesResent + run.box.naksSent;
  std::printf("%-8s %-8s %3d %8lld %6d %9lld %8.2f %9.2f %6.3f %7.1f/%-6.1f %6.1f%% %6.1f%% %7d\n",
              std::string(set.cliName).c_str(), direction, count.regions,
              (long long)count.dataBytes, count.frames, (long long)count.cableBytes, ideal,
              run.wall, run.wall / ideal, run.medianFrameGap * 1e3, frameIdeal * 1e3,
              100.0 * run.cpu.thread / run.wall, 100.0 * run.cpu.process / run.wall, resends);
}

// A verify of the set's file against a box that holds the image: the box sends what it sends in
// an upload of the set, so the upload's cable count holds for it.
bool BenchVerify(const RegionSet& set, const std::vector<uint8_t>& image,
                 const std::string& sendFile, const ScratchFolder& scratch) {
  const std::string name(set.cliName);
  VerifyPlan plan;
  Failure failure;
  if (!PlanVerify(ReadBytes(sendFile), plan, failure)) {
    std::printf("%-8s verify   FAILED: %s\n", name.c_str(), FailureText(failure).c_str());
    return false;
  }
  const RunResult run = RunOperation(set.operation, sendFile, true, image, scratch.Path(),
                                     std::make_shared<VerifyTask>(std::move(plan)));
  const std::string received = scratch.File(name + "-received.dld");
  const auto count = run.ok ? CountCable(ReadBytes(received), false) : std::nullopt;
  if (!count) {
    std::printf("%-8s verify   FAILED: %s\n", name.c_str(),
                run.ok ? "no upload to count the cable from" : run.failure.c_str());
    return false;
  }
  PrintRow(set, "verify", *count, run);
  std::fflush(stdout);
  return true;
}

// Download of the set's file made from the image, then upload of the same set from a box that
// holds the image, then a verify of the file on such a box. False when a transfer failed.
bool BenchSet(const RegionSet& set, const std::vector<uint8_t>& image, const FileIdentity& identity,
              const ScratchFolder& scratch) {
  Failure failure;
  const auto packed = PackUpgradeFile(set, image, identity, &failure);
  const std::string name(set.cliName);
  const std::string sendFile = scratch.File(name + "-send.dld");
  if (!packed || !WriteBytes(sendFile, *packed)) {
    std::printf("%-8s cannot make the upgrade file: %s\n", name.c_str(),
                FailureText(failure).c_str());
    return false;
  }
  bool allOk = true;
  for (const bool download : {true, false}) {
    const std::string file = download ? sendFile : scratch.File(name + "-received.dld");
    const RunResult run = RunOperation(download ? Operation::kDownload : set.operation, file, true,
                                       download ? std::vector<uint8_t>{} : image, scratch.Path());
    const auto count = run.ok ? CountCable(ReadBytes(file), download) : std::nullopt;
    if (!count) {
      std::printf("%-8s %-8s FAILED: %s\n", name.c_str(), download ? "download" : "upload",
                  run.ok ? "the file moved does not walk" : run.failure.c_str());
      allOk = false;
      continue;
    }
    PrintRow(set, download ? "download" : "upload", *count, run);
    // The ideal rests on the frame count worked out from the file: the box's own count must agree.
    const int boxFrames = download ? run.box.framesReceived : run.box.framesSent;
    if (boxFrames != count->frames) {
      std::printf("  note: the box counted %d frames, not %d\n", boxFrames, count->frames);
    }
    std::fflush(stdout);
  }
  return BenchVerify(set, image, sendFile, scratch) && allOk;
}

// "Upload ALL" without pacing, then a download of what arrived: the largest operation both ways.
// It runs first, so that the peak RSS after it is its own.
struct MemoryRound {
  bool ok = false;
  std::string failure;
  double seconds = 0;
  double upWall = 0;
  double downWall = 0;
  uintmax_t fileSize = 0;
  long peakBeforeKiB = 0;
  long peakAfterKiB = 0;
};

MemoryRound BenchMemory(const std::vector<uint8_t>& image, const ScratchFolder& scratch) {
  MemoryRound round;
  round.peakBeforeKiB = PeakRssKiB();
  const std::string file = scratch.File("all.dld");
  const auto started = Clock::now();
  const RunResult up = RunOperation(Operation::kUploadAll, file, false, image, scratch.Path());
  const RunResult down =
      up.ok ? RunOperation(Operation::kDownload, file, false, {}, scratch.Path()) : RunResult{};
  round.seconds = Seconds(Clock::now() - started).count();
  round.peakAfterKiB = PeakRssKiB();
  round.ok = up.ok && down.ok;
  round.failure = up.ok ? down.failure : up.failure;
  round.upWall = up.wall;
  round.downWall = down.wall;
  std::error_code ignored;
  round.fileSize = std::filesystem::file_size(file, ignored);
  return round;
}

void PrintMemoryRound(const MemoryRound& round) {
  if (!round.ok) {
    std::printf("\nUnpaced \"Upload ALL\" + download FAILED: %s\n", round.failure.c_str());
    return;
  }
  std::printf(
      "\nUnpaced \"Upload ALL\" (34 regions, file %.2f MiB) then its download: %.1f s in all,\n"
      "transfer phases %.2f s up and %.2f s down.\n"
      "Peak RSS (ru_maxrss): %.1f MiB before, %.1f MiB after (the 2 MiB image, the box's 2 MiB\n"
      "flash, one region at a time on each side); %.1f MiB at the end of the whole bench.\n",
      double(round.fileSize) / (1 << 20), round.seconds, round.upWall, round.downWall,
      double(round.peakBeforeKiB) / 1024, double(round.peakAfterKiB) / 1024,
      double(PeakRssKiB()) / 1024);
}

int Main(int argc, char** argv) {
  bool full = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--full") {
      full = true;
    } else {
      std::printf("usage: %s [--full]\n  --full  also the 27-region app set (minutes)\n", argv[0]);
      return arg == "--help" || arg == "-h" ? 0 : 2;
    }
  }
  ScratchFolder scratch;
  if (scratch.Path().empty()) {
    std::printf("cannot make a scratch folder\n");
    return 1;
  }
  const std::vector<uint8_t> image = SampleFlashImage(1);
  const FileIdentity identity = LabBoxIdentity();

  std::printf(
      "Transfer phase (\"Transfer...\" to \"Transfer Success!\") against a virtual box paced at\n"
      "115200 bit/s, 11 bits a byte. ideal = line time of every byte both ways (frames,\n"
      "descriptors, read request, ACKs), plus for an upload the box's own time to read and\n"
      "pack each region; ratio = measured / ideal (1.0 is the line's limit).\n"
      "frame ms = median time from one data frame to the next, against its line time (frame +\n"
      "ACK). PC cpu = the thread running the transfer, all cpu = the whole process with the box's\n"
      "thread, both as %% of one core over the phase.\n\n");
  const MemoryRound memory = BenchMemory(image, scratch);
  PrintTableHead();
  std::vector<Operation> sets = {Operation::kUploadKey, Operation::kUploadDefault,
                                 Operation::kUploadLoader};
  if (full) sets.push_back(Operation::kUploadApp);
  bool ok = true;
  for (const Operation set : sets) ok = BenchSet(RegionSetOf(set), image, identity, scratch) && ok;
  PrintMemoryRound(memory);
  ok = memory.ok && ok;
  return ok ? 0 : 1;
}

}  // namespace
}  // namespace vn

int main(int argc, char** argv) {
  return vn::Main(argc, argv);
}

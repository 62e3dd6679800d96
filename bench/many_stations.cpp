// Many stations at once, as on a production line with one PC: eight virtual boxes, each on its own
// pseudo-terminal and paced at the line rate, each served by its own Station in this one process,
// all downloading the same upgrade file at the same time. Whether each station still keeps its
// line busy, and what the PC side costs on the CPU per station.
//
//   bench_many_stations [--stations N] [--set SET] [--quick]
//
// The default file is the "data" set (8 regions, about 250 frames): about 24 s on the line for each
// box. --quick sends the one-region key set instead (about 4 s); --set picks any set.
//
// Efficiency is the line time of every byte the transfer phase moved (descriptors, data frames
// and their ACKs, 11 bits a byte at 115200 bit/s) against that phase's wall time: 1.0 is the
// line's limit. The boxes run on threads of this process, as in the other benchmarks; each box
// reads its thread's CPU clock when its session ends, and the process's CPU less those is the PC
// side's.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
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
using Seconds = std::chrono::duration<double>;

constexpr double kEfficiencyTarget = 0.98;
constexpr double kCpuTargetPercent = 1.0;  // of one core, per station
// A hang guard only: a paced download of the data set takes under half a minute.
constexpr std::chrono::minutes kRunGuard{10};

// The sample image with its erased pages written full of noise, as in a box whose data area is
// in use: it packs the data set into a file of about 24 s on the line.
std::vector<uint8_t> FullerImage() {
  std::vector<uint8_t> image = SampleFlashImage(1);
  uint32_t noise = 0x13579BDFu;
  for (size_t page = 0; page < image.size(); page += 4096) {
    const auto begin = image.begin() + std::ptrdiff_t(page);
    if (std::any_of(begin, begin + 4096, [](uint8_t byte) { return byte != 0xFF; })) continue;
    for (auto byte = begin; byte != begin + 4096; ++byte) {
      noise = noise * 1664525u + 1013904223u;
      *byte = uint8_t(noise >> 24);
    }
  }
  return image;
}

// One box and the station serving it. The box reads its thread's CPU clock as its session ends,
// the worker as its run ends; both are read here only after those threads have been joined. What
// a box spends after its session (closing its line) stays in the PC's share: it errs high.
struct Lane {
  Lane(int number, const std::string& programDir)
      : box(PacedBox(*this)), station(MakeSystemComPort(), clock, programDir), number(number) {}

  static BoxOptions PacedBox(Lane& lane) {
    BoxOptions options;
    options.pace = true;
    options.stopAfterSuccesses = 1;
    options.onSessionEnd = [&lane](const BoxSessionReport&) { lane.boxCpu = CpuNow().thread; };
    return options;
  }

  VirtualBox box;
  PhaseClock clock;
  Station station;
  int number;
  double boxCpu = 0;     // the box's thread, its whole life up to the end of its session
  double workerCpu = 0;  // the station's worker, its whole run
  bool ok = false;
};

struct Totals {
  double wall = 0;        // from before the first box started to after the last one stopped
  double processCpu = 0;  // every thread, over the same span
  double boxCpu = 0;      // the boxes' threads
  double workerCpu = 0;   // the stations' workers
};

// Starts every box and opens every station, then starts every download at once and waits for
// all of them. False when a box or a port could not be had.
bool RunLanes(std::vector<std::unique_ptr<Lane>>& lanes, const std::string& file, Totals& totals) {
  const Clock::time_point start = Clock::now();
  const double cpuStart = CpuNow().process;
  for (auto& lane : lanes) {
    if (!lane->box.Start() || !lane->station.Open(lane->box.PtyPath())) {
      std::printf("station %d: no virtual box: %s\n", lane->number,
                  lane->box.Stats().lastError.c_str());
      return false;
    }
  }
  for (auto& lane : lanes) {
    Lane* const self = lane.get();
    lane->station.ChooseDownloadFile(file);
    lane->station.Start(
        {Operation::kDownload, file, 1, [self] { self->workerCpu = CpuNow().thread; }});
  }
  for (auto& lane : lanes) {
    // A run that hangs is ended as the window's Reset would end it.
    if (!lane->station.WaitFor(kRunGuard)) lane->station.Stop();
    lane->ok = lane->station.Result().boxesDone == 1 && lane->clock.Succeeded();
  }
  for (auto& lane : lanes) {
    // The box may still be in the pacing of its last write; let it finish before its counts are
    // read.
    if (lane->ok) lane->box.WaitSessions(1, std::chrono::seconds(5));
    lane->station.Close();
    lane->box.Stop();
  }
  totals.wall = Seconds(Clock::now() - start).count();
  totals.processCpu = CpuNow().process - cpuStart;
  for (const auto& lane : lanes) {
    totals.boxCpu += lane->boxCpu;
    totals.workerCpu += lane->workerCpu;
  }
  return true;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t half = values.size() / 2;
  return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

// One line per station; the efficiencies of those that succeeded.
std::vector<double> PrintLanes(const std::vector<std::unique_ptr<Lane>>& lanes,
                               const CableCount& count) {
  const double ideal = count.LineSeconds();
  const double frameIdeal = (kDataFrameSize + 1) * kSecondsPerByte;
  std::printf("%-7s %8s %9s %10s %14s %7s %7s\n", "station", "ideal s", "measured", "efficiency",
              "frame ms/ideal", "PC cpu", "resends");
  std::vector<double> efficiencies;
  for (const auto& lane : lanes) {
    if (!lane->ok) {
      std::printf("%-7d FAILED: %s\n", lane->number, lane->clock.LastStatus().c_str());
      continue;
    }
    const double wall = lane->clock.WallSeconds();
    const BoxStats box = lane->box.Stats();
    efficiencies.push_back(ideal / wall);
    std::printf("%-7d %8.2f %9.2f %10.3f %7.1f/%-6.1f %6.2f%% %7d\n", lane->number, ideal, wall,
                ideal / wall, lane->clock.MedianFrameGap() * 1e3, frameIdeal * 1e3,
                100.0 * lane->clock.Cpu().thread / wall, box.framesResent + box.naksSent);
    // The ideal rests on the frame count worked out from the file: the box's own count must agree.
    if (box.framesReceived != count.frames) {
      std::printf("  note: the box counted %d frames, not %d\n", box.framesReceived, count.frames);
    }
  }
  return efficiencies;
}

void PrintSummary(const std::vector<double>& efficiencies, int stations, const Totals& totals) {
  const double minimum =
      efficiencies.empty() ? 0 : *std::min_element(efficiencies.begin(), efficiencies.end());
  const double pcCpu = totals.processCpu - totals.boxCpu;
  const auto perStation = [&](double cpu) { return 100.0 * cpu / stations / totals.wall; };
  std::printf("\nefficiency: min %.3f, median %.3f\n", minimum, Median(efficiencies));
  std::printf("run %.1f s; CPU as %% of one core over the run, per station:\n", totals.wall);
  std::printf("  process less the boxes:  %6.3f %%\n", perStation(pcCpu));
  std::printf("  the stations' workers:   %6.3f %%\n", perStation(totals.workerCpu));
  std::printf("  the virtual boxes:       %6.3f %%  (not the PC's)\n", perStation(totals.boxCpu));
  const bool allRan = int(efficiencies.size()) == stations;
  std::printf("target: every station at least %.2f of its line's limit: %s\n", kEfficiencyTarget,
              allRan && minimum >= kEfficiencyTarget ? "met" : "NOT met");
  std::printf("target: CPU under %.0f %% of a core per station: %s\n", kCpuTargetPercent,
              perStation(pcCpu) < kCpuTargetPercent ? "met" : "NOT met");
}

struct Options {
  int stations = 8;
  Operation operation = Operation::kUploadData;
};

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  BenchArgs args(argc, argv);
  while (args.Next()) {
    if (args.Is("--quick")) {
      options.operation = Operation::kUploadKey;
    } else if (!args.Set("--set", options.operation) &&
               !args.Number("--stations", 1, 64, options.stations)) {
      return std::nullopt;
    }
  }
  return options;
}

int Main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::printf("usage: %s [--stations N] [--set SET] [--quick]\n  SET: %s\n", argv[0],
                SetNameChoices().c_str());
    return 2;
  }
  ScratchFolder scratch;
  const std::optional<BenchFile> file = MakeBenchFile(scratch, options->operation, FullerImage());
  if (!file) return 1;
  const CableCount& count = file->down;
  std::vector<std::unique_ptr<Lane>> lanes;
  for (int i = 1; i <= options->stations; ++i) {
    // A folder of its own for each station's scratch header.
    const std::string programDir = scratch.File("station-" + std::to_string(i));
    std::filesystem::create_directory(programDir);
    lanes.push_back(std::make_unique<Lane>(i, programDir));
  }

  std::printf(
      "%d stations in one process, each downloading the %s set (%d regions, %lld data bytes,\n"
      "%d frames) into its own virtual box paced at 115200 bit/s, 11 bits a byte.\n"
      "efficiency = line time of every byte of the transfer phase both ways / its wall time\n"
      "(1.0 is the line's limit). frame ms = median time from one data frame to the next,\n"
      "against its line time (frame + ACK). PC cpu = the station's worker over the phase.\n\n",
      options->stations, std::string(SetName(options->operation)).c_str(), count.regions,
      (long long)count.dataBytes, count.frames);
  std::fflush(stdout);
  Totals totals;
  if (!RunLanes(lanes, file->path, totals)) return 1;
  const std::vector<double> efficiencies = PrintLanes(lanes, count);
  PrintSummary(efficiencies, options->stations, totals);
  return int(efficiencies.size()) == options->stations ? 0 : 1;
}

}  // namespace
}  // namespace vn

int main(int argc, char** argv) {
  return vn::Main(argc, argv);
}

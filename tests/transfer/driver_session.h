#pragma once
// One virtual box on a pseudo-terminal and a station whose port is opened on it, with the
// operation driver run against it under a hang guard; and what every uploaded file must be.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>

#include "dld/blocks.h"
#include "dld/byte_order.h"
#include "dld/inspect.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/station.h"
#include "link/system_port.h"
#include "sim/virtual_box.h"
#include "support/recording_observer.h"
#include "support/sample_files.h"

namespace vn::testing {

// A file an upload must replace whole or leave alone.
inline const std::vector<uint8_t> kOldBackup = {0x11, 0x44, 0x00, 'o', 'l', 'd'};

// The box's header with kind code, N and total size set, then per region a descriptor with the
// piece count and CRC recomputed and the data block as the box sent it, expanding to exactly the
// bytes of `flash`.
inline void ExpectSoundUpload(const std::vector<uint8_t>& file, Operation operation,
                              const std::vector<uint8_t>& flash) {
  ASSERT_GE(file.size(), size_t(kHeaderSize));
  const auto& header = HeaderOf(file);
  const auto regions = UploadRegionList(operation);
  EXPECT_EQ(header.partitionKind, RegionSetOf(operation).kindCode);
  EXPECT_EQ(header.partitionCount, regions.size());
  EXPECT_EQ(GetLe24(header.totalSize), file.size());
  EXPECT_TRUE(HeaderCrcMatches(header));
  const InspectReport report = InspectUpgradeFile(file);
  EXPECT_TRUE(report.Sound()) << (report.faults.empty() ? "" : report.faults[0].what);
  ASSERT_EQ(report.regions.size(), regions.size());
  size_t at = kHeaderSize;
  for (size_t i = 0; i < regions.size(); ++i) {
    EXPECT_EQ(report.regions[i].address, regions[i].address);
    EXPECT_EQ(report.regions[i].size, regions[i].size);
    const auto* descriptor = reinterpret_cast<const FILE_PARTITION_HEADER_T*>(&file[at]);
    const uint32_t r = GetLe24(descriptor->compressedLength);
    const auto contents = LzoDecompress({&file[at + kDescriptorSize + 4], r}, regions[i].size);
    ASSERT_TRUE(contents.has_value());
    EXPECT_EQ(*contents, RegionOfImage(flash, regions[i].address, regions[i].size));
    at += kDescriptorSize + r + kDataBlockOverhead;
  }
  EXPECT_EQ(at, file.size());
}

class DriverSession {
 public:
  // `programDir` is the driver's program folder; the scratch folder when empty.
  explicit DriverSession(BoxOptions options = {}, const std::string& programDir = {})
      : box(std::move(options)),
        station(MakeSystemComPort(), observer, programDir.empty() ? scratch.Path() : programDir) {
    opened = box.Start() && station.Open(box.PtyPath());
    EXPECT_TRUE(opened) << "no box on a pseudo-terminal to run against";
  }
  // A box with these faults, holding `flash` (erased when empty), and otherwise as it comes.
  explicit DriverSession(const BoxFaults& faults, std::vector<uint8_t> flash = {})
      : DriverSession(BoxWith(faults, std::move(flash))) {}
  ~DriverSession() {
    station.Close();
    box.Stop();
  }

  // Runs the driver's loop as Start would. A run still going after `guard` is stopped and
  // reported as hung.
  LoopResult Run(Operation operation, const std::string& file, int boxes = 1,
                 std::chrono::seconds guard = std::chrono::seconds(60)) {
    if (!opened) return {};
    if (operation == Operation::kDownload) station.ChooseDownloadFile(file);
    if (afterChoose) afterChoose();
    StationJob job(operation, file, boxes);
    job.options = options;
    EXPECT_TRUE(station.Start(std::move(job)));
    if (!station.WaitFor(guard)) {
      hung = true;
      station.RequestStop();
    }
    station.Wait();
    headerAfterRun = station.CurrentHeader();
    return station.Result();
  }

  // The upgrade file of region set `set`, made from sample image `seed`, in the scratch folder.
  std::string PackedSet(Operation set, uint32_t seed) {
    return scratch.Write(std::string(OperationWord(set)) + ".dld", SampleUpgradeFile(set, seed));
  }

  std::vector<std::string> Statuses() const { return observer.Statuses(); }
  // The box finishes its own bookkeeping (programming its image, counting) just after the PC has
  // its last answer: wait for that before looking at the box.
  bool BoxFinished(int sessions) { return box.WaitSessions(sessions, std::chrono::seconds(10)); }
  // Once the box has finished `sessions`, its flash holds the `regions` of `image`.
  void ExpectFlashHolds(const std::vector<uint8_t>& image, std::span<const UploadRegion> regions,
                        int sessions = 1) {
    ASSERT_TRUE(BoxFinished(sessions));
    const auto flash = box.FlashCopy();
    for (const UploadRegion& region : regions) {
      EXPECT_EQ(RegionOfImage(flash, region.address, region.size),
                RegionOfImage(image, region.address, region.size))
          << std::hex << region.address;
    }
  }

  VirtualBox box;
  RecordingObserver observer;
  ScratchFolder scratch;
  Station station;
  std::function<void()> afterChoose;  // runs between choosing the file and Start
  LoopOptions options;                // a production line's, for the next Run
  bool opened = false;
  std::atomic<bool> hung{false};
  FILE_DOWNLOAD_HEADER_T headerAfterRun{};  // the driver's current download header

 private:
  static BoxOptions BoxWith(const BoxFaults& faults, std::vector<uint8_t> flash) {
    BoxOptions options;
    options.faults = faults;
    options.flash = std::move(flash);
    return options;
  }
};

}  // namespace vn::testing

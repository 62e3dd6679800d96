#pragma once
// Reading an upgrade file's regions back out of a box and comparing them with the file. The box
// is asked, in one read request, for exactly the regions the file's descriptors name (flag,
// address and size, in the file's order); each block it sends is expanded and its contents
// compared with the file's expanded region and with the CRC of the box's own descriptor. The box
// packs with its own compressor, so compressed bytes are never compared. Nothing is written to
// the box, nor to disk.
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "dld/blocks.h"
#include "dld/region_sets.h"
#include "link/box_task.h"
#include "link/region_receive.h"
#include "platform/failure.h"

namespace vn {

inline constexpr const char* kVerifySuccessText = "Verify Success!";

// What a verify asks of every box: the file's regions and their expanded contents.
struct VerifyPlan {
  uint8_t kindCode = kNoKindCode;  // the file's, for a copy of what was read back
  std::vector<UploadRegion> regions;
  std::vector<std::vector<uint8_t>> contents;  // one per region, expanded
};

// The plan for the bytes of an upgrade file that passed its checks. False, with `failure`
// (kDamaged) saying why, for a file whose regions do not expand, one without regions, and one
// with more regions than one read request can name.
bool PlanVerify(std::span<const uint8_t> image, VerifyPlan& plan, Failure& failure);

// How a region read back stands to the file's: `asked` is the file's region, `expected` its
// contents; `descriptor` and `got` are what the box sent for it, `got` expanded.
RegionCheck CompareRegion(const UploadRegion& asked, std::span<const uint8_t> expected,
                          const FILE_PARTITION_HEADER_T& descriptor, std::span<const uint8_t> got);

// "0x40180000  65536  same", or "0x40180000  65536  differs from 0x40180123 (3 bytes differ)".
std::string RegionCheckText(const RegionCheck& check);
// The last text of a box whose region differs: "Verify failed at 0x40180123!".
std::string VerifyFailedText(const RegionCheck& check);

class VerifyTask : public BoxTask {
 public:
  // `saveFile`, when not empty, gets what the box sent as an upgrade file, written as an upload
  // writes its file (beside it first, renamed over it once complete).
  explicit VerifyTask(VerifyPlan plan, std::string saveFile = {})
      : plan_(std::move(plan)), saveFile_(std::move(saveFile)) {}

  int PartitionCount() const override { return int(plan_.regions.size()); }
  bool Run(TransferContext& context) override;
  LinkEvent DoneEvent() const override;
  std::optional<RegionCounts> Regions() const override;

  // The current or last box's regions compared so far, in the file's order. Safe from any thread.
  std::vector<RegionCheck> Checks() const;

 private:
  // The exchange up to the last region, the file's or the box's checks, with the status texts
  // of an upload; false when it failed.
  bool ReadBack(TransferContext& context, RegionReceiver& receiver);

  const VerifyPlan plan_;
  const std::string saveFile_;
  mutable std::mutex mutex_;
  std::vector<RegionCheck> checks_;
};

}  // namespace vn

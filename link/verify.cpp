#include "link/verify.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>

#include "dld/block_walker.h"
#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/lzo_codec.h"
#include "link/framing.h"
#include "link/identify.h"
#include "link/region_receive.h"
#include "link/upload.h"
#include "link/wire_format.h"

namespace vn {
namespace {

std::string Hex(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIX32, address);
  return text;
}

// Compares what the box sends for each region with the plan's contents, keeping each block only
// until it has been compared.
class ComparedRegions : public RegionReceiver {
 public:
  ComparedRegions(const VerifyPlan& plan, std::function<void(const RegionCheck&)> onCheck)
      : plan_(plan), onCheck_(std::move(onCheck)) {}

  bool TakeDescriptor(FILE_PARTITION_HEADER_T& descriptor) override {
    block_.clear();
    block_.reserve(GetLe24(descriptor.compressedLength) + kDataBlockOverhead);
    return true;
  }
  bool TakePayload(std::span<const uint8_t> payload) override {
    block_.insert(block_.end(), payload.begin(), payload.end());
    return true;
  }
  // A block that does not belong to its descriptor, or does not expand to the contents whose CRC
  // the box announced, was damaged on the way: no comparison can be made with it.
  bool TakeBlock(const FILE_PARTITION_HEADER_T& descriptor) override {
    if (!CompareDataBlock(descriptor, block_).Agrees()) return false;
    const uint32_t r = GetLe24(descriptor.compressedLength);
    const auto got = LzoDecompress(std::span(block_).subspan(4, r), GetLe24(descriptor.regionSize));
    if (!got || CalcCrc32(got->data(), int32_t(got->size())) != GetLe32(descriptor.regionCrc)) {
      return false;
    }
    const size_t at = next_++;
    onCheck_(CompareRegion(plan_.regions[at], plan_.contents[at], descriptor, *got));
    return true;
  }

 private:
  const VerifyPlan& plan_;
  std::function<void(const RegionCheck&)> onCheck_;
  std::vector<uint8_t> block_;
  size_t next_ = 0;
};

}  // namespace

bool PlanVerify(std::span<const uint8_t> image, VerifyPlan& plan, Failure& failure) {
  plan = {};
  const WalkedFile walked = WalkUpgradeFile(image);
  if (walked.regions.empty()) {
    failure = FailureSaying(FailureKind::kDamaged, "the file holds no region to read back");
    return false;
  }
  if (walked.regions.size() > size_t(kMaxRequestRegions)) {
    failure = FailureSaying(FailureKind::kDamaged, "the file has " +
                                                       std::to_string(walked.regions.size()) +
                                                       " regions; one read request names at most " +
                                                       std::to_string(kMaxRequestRegions));
    return false;
  }
  for (const RegionBlocks& region : walked.regions) {
    const FILE_PARTITION_HEADER_T descriptor = DescriptorOf(region.descriptor);
    const uint32_t size = GetLe24(descriptor.regionSize);
    auto contents = region.data ? LzoDecompress(region.data->payload, size) : std::nullopt;
    if (!contents) {
      failure = FailureSaying(
          FailureKind::kDamaged,
          "region " + std::to_string(region.descriptor.region) + " does not expand to its size");
      return false;
    }
    plan.kindCode = walked.header ? HeaderOf(*walked.header).partitionKind : kNoKindCode;
    plan.regions.push_back({descriptor.flag, GetLe32(descriptor.address), size});
    plan.contents.push_back(std::move(*contents));
  }
  return true;
}

RegionCheck CompareRegion(const UploadRegion& asked, std::span<const uint8_t> expected,
                          const FILE_PARTITION_HEADER_T& descriptor, std::span<const uint8_t> got) {
  RegionCheck check{asked.address, asked.size, 0, 0};
  // Another region than the one asked for holds nothing of it.
  if (GetLe32(descriptor.address) != asked.address) {
    check.bytesDiffering = asked.size;
    check.firstDiffering = asked.address;
    return check;
  }
  const size_t common = std::min(expected.size(), got.size());
  for (size_t i = 0; i < common; ++i) {
    if (expected[i] == got[i]) continue;
    if (check.bytesDiffering++ == 0) check.firstDiffering = asked.address + uint32_t(i);
  }
  // Bytes the box did not send, or sent beyond what was asked, differ too.
  const size_t longer = std::max(expected.size(), got.size());
  if (longer > common) {
    if (check.bytesDiffering == 0) check.firstDiffering = asked.address + uint32_t(common);
    check.bytesDiffering += uint32_t(longer - common);
  }
  return check;
}

std::string RegionCheckText(const RegionCheck& check) {
  std::string text = Hex(check.address) + "  " + std::to_string(check.size) + "  ";
  if (check.bytesDiffering == 0) return text + "same";
  return text + "differs from " + Hex(check.firstDiffering) + " (" +
         std::to_string(check.bytesDiffering) +
         (check.bytesDiffering == 1 ? " byte differs)" : " bytes differ)");
}

std::string VerifyFailedText(const RegionCheck& check) {
  return "Verify failed at " + Hex(check.firstDiffering) + "!";
}

std::vector<RegionCheck> VerifyTask::Checks() const {
  std::lock_guard lock(mutex_);
  return checks_;
}

std::optional<RegionCounts> VerifyTask::Regions() const {
  std::lock_guard lock(mutex_);
  RegionCounts counts{int(checks_.size()), 0};
  for (const RegionCheck& check : checks_) counts.differing += check.bytesDiffering > 0 ? 1 : 0;
  return counts;
}

LinkEvent VerifyTask::DoneEvent() const {
  LinkEvent event = StatusEvent(kVerifySuccessText, EventKind::kSuccess);
  event.phase = Phase::kTransfer;
  return event;
}

bool VerifyTask::ReadBack(TransferContext& context, RegionReceiver& receiver) {
  if (!saveFile_.empty()) {
    const RegionSet asRead{Operation::kDownload, "", "", plan_.kindCode, plan_.regions};
    return UploadFromBox(context, saveFile_, asRead, &receiver);
  }
  FILE_DOWNLOAD_HEADER_T boxHeader{};
  if (!AskForBoxHeader(context, boxHeader)) {
    ShowMessage(context, kMsgIdentFailed);
    SendCommand(context.port, kMsgIdentFailed);
    return false;
  }
  ShowMessage(context, kMsgIdentSuccess);
  SendCommand(context.port, kMsgIdentSuccess);

  ShowMessage(context, kMsgTransfer);
  const bool received = ReceiveRegions(context, plan_.regions, receiver);
  ShowMessage(context, received ? kMsgTransferSuccess : kMsgTransferFailed);
  return received;
}

bool VerifyTask::Run(TransferContext& context) {
  {
    std::lock_guard lock(mutex_);
    checks_.clear();
  }
  ComparedRegions receiver(plan_, [this](const RegionCheck& check) {
    std::lock_guard lock(mutex_);
    checks_.push_back(check);
  });
  if (!ReadBack(context, receiver)) return false;

  const std::vector<RegionCheck> checks = Checks();
  const RegionCheck* firstDiffering = nullptr;
  for (size_t i = 0; i < checks.size(); ++i) {
    LinkEvent line = StatusEvent(RegionCheckText(checks[i]), EventKind::kReport);
    line.phase = Phase::kTransfer;
    line.part = int(i) + 1;
    line.count = int(checks.size());
    line.region = checks[i];
    context.observer.OnEvent(line);
    if (!firstDiffering && checks[i].bytesDiffering > 0) firstDiffering = &checks[i];
  }
  if (!firstDiffering) return true;
  LinkEvent failed = StatusEvent(VerifyFailedText(*firstDiffering), EventKind::kFailure);
  failed.phase = Phase::kTransfer;
  failed.region = *firstDiffering;
  failed.failureKind = BoxFailureKind::kContentDiffers;
  const RegionCounts counts = *Regions();
  failed.failure =
      FailureSaying(FailureKind::kOther,
                    std::to_string(counts.differing) + " of " + std::to_string(counts.checked) +
                        " regions differ; region " + RegionCheckText(*firstDiffering));
  context.observer.OnEvent(failed);
  return false;
}

}  // namespace vn

#include "dld/inspect.h"

#include <algorithm>
#include <string>

#include "dld/byte_order.h"
#include "dld/crc32.h"
#include "dld/lzo_codec.h"
#include "dld/region_sets.h"
#include "platform/text_format.h"

namespace vn {
namespace {

void AddFault(InspectReport& report, const BlockView& block, std::string what) {
  report.faults.push_back({BlockName(block.kind, block.region), block.offset, std::move(what)});
}

void CheckBlockCrc(InspectReport& report, const BlockView& block) {
  if (block.crcMatches) return;
  AddFault(report, block,
           "stored CRC " + HexNumber(block.storedCrc, 8) + " differs from the CRC of its bytes " +
               HexNumber(CalcCrc32(block.payload.data(), int32_t(block.payload.size())), 8));
}

void InspectHeader(InspectReport& report, const BlockView& block) {
  const FILE_DOWNLOAD_HEADER_T header = HeaderOf(block);
  report.headerFound = true;
  report.identity = IdentityOfHeader(header);
  report.kindCode = header.partitionKind;
  report.partitionCount = header.partitionCount;
  report.totalSize = GetLe24(header.totalSize);
  CheckBlockCrc(report, block);
  if (report.totalSize != report.fileSize) {
    AddFault(report, block,
             "total size is " + std::to_string(report.totalSize) + " but the file holds " +
                 std::to_string(report.fileSize) + " bytes");
  }
}

// Checks one descriptor and its data block; true when nothing is wrong with either.
// `expanded`, when given, receives the region's contents once they expanded to a sound region.
bool InspectRegion(InspectReport& report, const RegionBlocks& blocks, RegionRow& row,
                   std::vector<uint8_t>* expanded) {
  const size_t faultsBefore = report.faults.size();
  const FILE_PARTITION_HEADER_T descriptor = DescriptorOf(blocks.descriptor);
  row.region = blocks.descriptor.region;
  row.descriptorOffset = blocks.descriptor.offset;
  row.flag = descriptor.flag;
  row.address = GetLe32(descriptor.address);
  row.size = GetLe24(descriptor.regionSize);
  row.compressedLength = GetLe24(descriptor.compressedLength);
  row.ratio = row.size == 0 ? 0.0 : double(row.compressedLength) / double(row.size);

  CheckBlockCrc(report, blocks.descriptor);
  const uint8_t pieces = PieceCountOf(row.compressedLength);
  if (descriptor.pieceCount != pieces) {
    AddFault(report, blocks.descriptor,
             "piece count is " + std::to_string(descriptor.pieceCount) + " but " +
                 std::to_string(row.compressedLength) + " compressed bytes take " +
                 std::to_string(pieces));
  }
  if (!blocks.data) return false;  // the walk stopped there and reported why

  const BlockView& data = *blocks.data;
  const DataBlockAgreement agreement = CompareDataBlock(descriptor, data.bytes);
  if (!agreement.sized) {  // the walk checked tag and length: only r can disagree
    AddFault(report, blocks.descriptor,
             "declares " + std::to_string(row.compressedLength) +
                 " compressed bytes but its data block holds " +
                 std::to_string(data.payload.size()));
  }
  // A data block whose own CRC fails is reported once, as itself, not again as a mismatch.
  const uint32_t declaredCrc = GetLe32(descriptor.compressedCrc);
  if (agreement.crcSound && !agreement.crcAnnounced) {
    AddFault(report, blocks.descriptor,
             "CRC of the compressed bytes " + HexNumber(declaredCrc, 8) +
                 " differs from its data "
                 "block's CRC " +
                 HexNumber(data.storedCrc, 8));
  }
  CheckBlockCrc(report, data);
  // Known-corrupt bytes are not expanded, nor trusted sizes taken from a corrupt descriptor:
  // their fault is already reported.
  if (data.crcMatches && blocks.descriptor.crcMatches && row.size > kFlashSize) {
    // Not expanded: a crafted file of many huge regions would otherwise cost minutes.
    AddFault(report, blocks.descriptor,
             "region size " + std::to_string(row.size) + " exceeds the box's 2 MiB flash");
  } else if (data.crcMatches && blocks.descriptor.crcMatches) {
    const auto contents = LzoDecompress(data.payload, row.size);
    if (!contents) {
      AddFault(report, data,
               "the compressed bytes do not expand to the region's " + std::to_string(row.size) +
                   " bytes");
    } else {
      const uint32_t actual = CalcCrc32(contents->data(), int32_t(contents->size()));
      const uint32_t expected = GetLe32(descriptor.regionCrc);
      if (actual != expected) {
        AddFault(report, data,
                 "the expanded region's CRC " + HexNumber(actual, 8) +
                     " differs from its descriptor's " + HexNumber(expected, 8));
      } else if (expanded) {
        *expanded = std::move(*contents);
      }
    }
  }
  return report.faults.size() == faultsBefore;
}

}  // namespace

std::string DescribeFault(const BlockFault& fault) {
  return fault.block + " at offset " + std::to_string(fault.offset) + ": " + fault.what;
}

InspectReport InspectUpgradeFile(std::span<const uint8_t> file,
                                 std::vector<std::vector<uint8_t>>* contents) {
  InspectReport report;
  report.fileSize = file.size();
  const WalkedFile walked = WalkUpgradeFile(file);
  if (walked.header) InspectHeader(report, *walked.header);

  for (const RegionBlocks& blocks : walked.regions) {
    RegionRow row;
    std::vector<uint8_t> expanded;
    row.ok = InspectRegion(report, blocks, row, contents ? &expanded : nullptr);
    report.regions.push_back(row);
    if (contents) contents->push_back(std::move(expanded));
  }
  // A malformed block where region N + 1 would begin is bytes left over after the last region.
  const bool regionsComplete = walked.regions.empty() || walked.regions.back().data.has_value();
  const size_t declared = size_t(report.partitionCount);
  if (walked.fault) {
    if (walked.header && regionsComplete && walked.regions.size() >= declared) {
      report.faults.push_back(
          {"trailing bytes", walked.fault->offset,
           std::to_string(file.size() - walked.fault->offset) + " bytes follow the last region"});
    } else {
      report.faults.push_back(*walked.fault);
    }
  }
  const bool walkedToRegionEnd =
      !walked.fault || (walked.header && regionsComplete && walked.regions.size() >= declared);
  if (walkedToRegionEnd && walked.header && walked.regions.size() != declared) {
    report.faults.push_back({"header", 0,
                             "states " + std::to_string(declared) + " regions but the file holds " +
                                 std::to_string(walked.regions.size())});
  }
  // The PC waits for one erase report per region: with none there is nothing for a box to do,
  // and the download cannot end in a success.
  if (walked.header && declared == 0) {
    report.faults.push_back({"header", 0, "states no regions: nothing to erase or program"});
  }
  std::stable_sort(report.faults.begin(), report.faults.end(),
                   [](const BlockFault& a, const BlockFault& b) { return a.offset < b.offset; });
  return report;
}

}  // namespace vn

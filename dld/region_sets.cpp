#include "dld/region_sets.h"

#include <array>

#include "platform/text_format.h"

namespace vn {
namespace {

constexpr uint32_t k64K = 0x10000;

template <size_t N>
constexpr std::array<UploadRegion, N> AppRegions(int appFlagged) {
  std::array<UploadRegion, N> regions{};
  for (size_t i = 0; i < N; ++i) {
    regions[i] = {uint8_t(int(i) < appFlagged ? 1 : 0), 0x40010000u + uint32_t(i) * k64K, k64K};
  }
  return regions;
}

constexpr std::array<UploadRegion, 8> kData = {{
    {0, 0x401B0000, k64K},
    {0, 0x401C0000, k64K},
    {0, 0x401D0000, k64K},
    {0, 0x401E0000, k64K},
    {0, 0x401F0000, 0x8000},
    {0, 0x401F8000, 0x2000},
    {0, 0x401FA000, 0x2000},
    {0, 0x401FC000, 0x4000},
}};
constexpr std::array<UploadRegion, 2> kDefault = {{{0, 0x40190000, k64K}, {0, 0x401A0000, k64K}}};
constexpr std::array<UploadRegion, 1> kKey = {{{0, 0x40180000, k64K}}};
constexpr std::array<UploadRegion, 4> kLoader = {{
    {0, 0x40000000, 0x4000},
    {0, 0x40004000, 0x2000},
    {0, 0x40006000, 0x2000},
    {0, 0x40008000, 0x8000},
}};
constexpr int kAppFlagged = 23;  // the first 23 application regions carry flag 1
constexpr std::array<UploadRegion, 27> kApp = AppRegions<27>(kAppFlagged);

constexpr std::array<UploadRegion, 34> MakeAll() {
  std::array<UploadRegion, 34> all{};
  const auto head = AppRegions<30>(kAppFlagged);
  for (size_t i = 0; i < head.size(); ++i) all[i] = head[i];
  for (size_t i = 0; i < 4; ++i) all[30 + i] = kData[4 + i];
  return all;
}
constexpr std::array<UploadRegion, 34> kAll = MakeAll();

// One row per operation, in the window's order; adding a set is adding a row here.
constexpr std::array<RegionSet, kOperationCount> kRegionSets = {{
    {Operation::kDownload, "Download", "", kNoKindCode, {}},
    {Operation::kUploadData, "Upload Data", "data", 0, kData},
    {Operation::kUploadDefault, "Upload Default", "default", 1, kDefault},
    {Operation::kUploadKey, "Upload Key", "key", 3, kKey},
    {Operation::kUploadLoader, "Upload Loader", "loader", 4, kLoader},
    {Operation::kUploadApp, "Upload App", "app", 5, kApp},
    {Operation::kUploadAll, "Upload ALL", "all", 6, kAll},
}};

constexpr bool RowsSitAtTheirPositions() {
  for (int i = 0; i < kOperationCount; ++i) {
    if (int(kRegionSets[i].operation) != i) return false;
  }
  return true;
}
static_assert(RowsSitAtTheirPositions());

}  // namespace

std::span<const RegionSet> RegionSets() {
  return kRegionSets;
}

const RegionSet& RegionSetOf(Operation operation) {
  return kRegionSets[PositionOf(operation)];
}

std::span<const RegionSet> UploadSets() {
  static_assert(kRegionSets[0].operation == Operation::kDownload);
  return std::span<const RegionSet>(kRegionSets).subspan(1);
}

std::optional<Operation> OperationAt(int position) {
  if (position < 0 || position >= kOperationCount) return std::nullopt;
  return kRegionSets[position].operation;
}

int PositionOf(Operation operation) {
  return int(operation);
}

std::string_view OperationName(Operation operation) {
  return RegionSetOf(operation).windowName;
}

std::span<const UploadRegion> UploadRegionList(Operation operation) {
  return RegionSetOf(operation).regions;
}

int PartitionCountOfOperation(Operation operation) {
  return int(UploadRegionList(operation).size());
}

std::string_view SetName(Operation operation) {
  return RegionSetOf(operation).cliName;
}

std::string_view OperationWord(Operation operation) {
  return operation == Operation::kDownload ? "download" : SetName(operation);
}

std::optional<Operation> OperationOfSetName(std::string_view name) {
  for (const RegionSet& row : kRegionSets) {
    if (!row.cliName.empty() && row.cliName == name) return row.operation;
  }
  return std::nullopt;
}

std::vector<std::string> SetNames() {
  std::vector<std::string> names;
  for (const RegionSet& row : kRegionSets) {
    if (!row.cliName.empty()) names.emplace_back(row.cliName);
  }
  return names;
}

std::string SetNameChoices() {
  return ChoiceList(SetNames());
}

}  // namespace vn

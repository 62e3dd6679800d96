#include "dld/region_sets.h"

#include <array>

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

constexpr std::array<std::string_view, kOperationCount> kOperationNames = {
    "Download",      "Upload Data", "Upload Default", "Upload Key",
    "Upload Loader", "Upload App",  "Upload ALL"};
constexpr std::array<std::string_view, kOperationCount> kSetNames = {
    "", "data", "default", "key", "loader", "app", "all"};

}  // namespace

std::string_view OperationName(int operation) {
  return operation >= 0 && operation < kOperationCount ? kOperationNames[operation] : "";
}

std::span<const UploadRegion> UploadRegionList(int operation) {
  switch (operation) {
    case 1: return kData;
    case 2: return kDefault;
    case 3: return kKey;
    case 4: return kLoader;
    case 5: return kApp;
    case 6: return kAll;
    default: return {};
  }
}

int PartitionCountOfOperation(int operation) { return int(UploadRegionList(operation).size()); }

int PartitionKindOfCount(int count) {
  switch (count) {
    case 8: return 0;
    case 2: return 1;
    case 1: return 3;
    case 4: return 4;
    case 27: return 5;
    case 34: return 6;
    default: return 7;
  }
}

std::string_view SetName(int operation) {
  return operation > 0 && operation < kOperationCount ? kSetNames[operation] : "";
}

std::optional<int> OperationOfSetName(std::string_view name) {
  for (int op = 1; op < kOperationCount; ++op) {
    if (kSetNames[op] == name) return op;
  }
  return std::nullopt;
}

}  // namespace vn

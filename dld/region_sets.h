#pragma once
// The fixed flash region sets read by the six upload operations, indexed by the position of the
// operation in the window's list: 0 "Download", 1 "Upload Data", 2 "Upload Default",
// 3 "Upload Key", 4 "Upload Loader", 5 "Upload App", 6 "Upload ALL".
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vn {

inline constexpr int kOperationCount = 7;
inline constexpr int kOperationDownload = 0;
inline constexpr int kOperationUploadData = 1;
inline constexpr int kOperationUploadDefault = 2;
inline constexpr int kOperationUploadKey = 3;
inline constexpr int kOperationUploadLoader = 4;
inline constexpr int kOperationUploadApp = 5;
inline constexpr int kOperationUploadAll = 6;
inline constexpr uint32_t kFlashBase = 0x40000000u;
inline constexpr uint32_t kFlashSize = 0x200000u;  // 2 MiB covers every region of every set
inline constexpr uint8_t kErasedByte = 0xFF;       // what erased flash reads as

struct UploadRegion {
  uint8_t flag;      // request flag sent to the box
  uint32_t address;  // flash address in the box
  uint32_t size;     // bytes
};

inline constexpr int kNoKindCode = 7;  // kind code of a region count that matches no set

// One operation: its position in the window's list, the names it goes by and what it reads.
struct RegionSet {
  int operation;
  std::string_view windowName;
  std::string_view cliName;  // empty for "Download", which reads no regions
  int kindCode;              // written into the header of an upload file
  std::span<const UploadRegion> regions;
};

// Every operation, indexed by its position.
std::span<const RegionSet> RegionSets();

// Window texts of the operation list, in order.
std::string_view OperationName(int operation);

// N for an operation position: 0 -> 0, 1 -> 8, 2 -> 2, 3 -> 1, 4 -> 4, 5 -> 27, 6 -> 34; else 0.
int PartitionCountOfOperation(int operation);

// Kind code for N: 8 -> 0, 2 -> 1, 1 -> 3, 4 -> 4, 27 -> 5, 34 -> 6, any other -> 7.
int PartitionKindOfCount(int count);

// The regions an upload operation asks for, in request order; empty for "Download" or out of range.
std::span<const UploadRegion> UploadRegionList(int operation);

// Short set names used on the command line: data, default, key, loader, app, all.
std::string_view SetName(int operation);
std::optional<int> OperationOfSetName(std::string_view name);
std::vector<std::string> SetNames();
// "data, default, key, loader, app or all", for help texts.
std::string SetNameChoices();

}  // namespace vn

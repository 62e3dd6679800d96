#pragma once
// The operations of the window's list and the fixed flash region sets the six uploads read: one
// row per operation, which every name, region list and kind code is read from.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vn {

// In the window's order: "Download", "Upload Data", "Upload Default", "Upload Key",
// "Upload Loader", "Upload App", "Upload ALL".
enum class Operation : uint8_t {
  kDownload,
  kUploadData,
  kUploadDefault,
  kUploadKey,
  kUploadLoader,
  kUploadApp,
  kUploadAll,
};
inline constexpr int kOperationCount = 7;

inline constexpr uint32_t kFlashBase = 0x40000000u;
inline constexpr uint32_t kFlashSize = 0x200000u;  // 2 MiB covers every region of every set
inline constexpr uint8_t kErasedByte = 0xFF;       // what erased flash reads as

struct UploadRegion {
  uint8_t flag;      // request flag sent to the box
  uint32_t address;  // flash address in the box
  uint32_t size;     // bytes
};

inline constexpr uint8_t kNoKindCode = 7;  // kind code of a file that holds no set

// One operation: the names it goes by and what it reads.
struct RegionSet {
  Operation operation;
  std::string_view windowName;
  std::string_view cliName;  // empty for "Download", which reads no regions
  uint8_t kindCode;          // written into the header of an upload file
  std::span<const UploadRegion> regions;
};

// Every operation, in the window's order.
std::span<const RegionSet> RegionSets();
const RegionSet& RegionSetOf(Operation operation);
// The six uploads' rows, "Upload Data" to "Upload ALL".
std::span<const RegionSet> UploadSets();

// The operation at a position of the window's list; nullopt past either end.
std::optional<Operation> OperationAt(int position);
int PositionOf(Operation operation);

// The window's text for the operation: "Upload Key".
std::string_view OperationName(Operation operation);

// The regions an upload asks for, in request order; empty for Download.
std::span<const UploadRegion> UploadRegionList(Operation operation);
// N of the operation's set: 0 for Download.
int PartitionCountOfOperation(Operation operation);

// Short set names used on the command line: data, default, key, loader, app, all; "download"
// names Download where the command line speaks of an operation.
std::string_view SetName(Operation operation);
std::string_view OperationWord(Operation operation);
std::optional<Operation> OperationOfSetName(std::string_view name);
std::vector<std::string> SetNames();
// "data, default, key, loader, app or all", for help texts.
std::string SetNameChoices();

}  // namespace vn

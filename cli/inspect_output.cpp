#include "cli/inspect_output.h"

#include <cinttypes>
#include <cmath>
#include <nlohmann/json.hpp>

#include "cli/json_fields.h"
#include "platform/text_format.h"

namespace vn {
namespace {

// Ordered, so that the keys come as a person reads a file: name, header, regions, faults.
using json = nlohmann::ordered_json;

// The object's layout, raised whenever a field is added, renamed or dropped.
constexpr int kInspectSchemaVersion = 1;

// Header texts come from the file as they are; control and non-ASCII bytes are shown as \xNN so
// that they cannot disturb the terminal.
std::string Printable(const std::string& text) {
  std::string shown;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F) {
      shown += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      shown += escaped;
    }
  }
  return shown;
}

void PrintField(std::FILE* out, const char* label, const std::string& value) {
  std::fprintf(out, "%-19s %s\n", label, value.c_str());
}

}  // namespace

void PrintInspectText(std::FILE* out, const std::string& fileName, const InspectReport& report) {
  PrintField(out,
             "file:", Printable(fileName) + " (" + std::to_string(report.fileSize) + " bytes)");
  if (report.headerFound) {
    const FileIdentity& id = report.identity;
    PrintField(out, "ident for nocheck:", std::to_string(id.identForNocheck));
    PrintField(out, "manufacture ident:", Printable(id.manufactureIdent));
    PrintField(out, "hardware module:", Printable(id.hardwareModule));
    PrintField(out, "hardware version:", Printable(id.hardwareVersion));
    PrintField(out, "software module:", Printable(id.softwareModule));
    PrintField(out, "software version:", Printable(id.softwareVersion));
    PrintField(out, "partition kind:", std::to_string(report.kindCode));
    PrintField(out, "regions (N):", std::to_string(report.partitionCount));
    PrintField(out, "total size:", std::to_string(report.totalSize));
  } else {
    std::fprintf(out, "no download header\n");
  }
  if (!report.regions.empty()) {
    std::fprintf(out, "\n%6s  %-10s  %8s  %10s  %4s  %6s  %s\n", "region", "address", "size",
                 "compressed", "flag", "ratio", "state");
    for (const RegionRow& row : report.regions) {
      std::fprintf(out, "%6d  0x%08" PRIX32 "  %8" PRIu32 "  %10" PRIu32 "  %4u  %5.1f%%  %s\n",
                   row.region, row.address, row.size, row.compressedLength, unsigned(row.flag),
                   row.ratio * 100.0, row.ok ? "ok" : "fault");
    }
  }
  std::fprintf(out, "\n");
  for (const BlockFault& fault : report.faults) {
    std::fprintf(out, "fault: %s\n", DescribeFault(fault).c_str());
  }
  std::fprintf(out, "%s\n", report.Sound() ? "sound" : "unsound");
}

void PrintInspectJson(std::FILE* out, const std::string& fileName, const InspectReport& report) {
  json result = {{"schema", kInspectSchemaVersion}, {"file", fileName}};
  AddExactBytes(result, "file", fileName);
  result["fileSize"] = report.fileSize;
  result["sound"] = report.Sound();
  if (report.headerFound) {
    json header = IdentityJson(report.identity);
    header["kindCode"] = report.kindCode;
    header["partitionCount"] = report.partitionCount;
    header["totalSize"] = report.totalSize;
    result["header"] = header;
  } else {
    result["header"] = nullptr;
  }
  result["regions"] = json::array();
  for (const RegionRow& row : report.regions) {
    result["regions"].push_back({{"region", row.region},
                                 {"offset", row.descriptorOffset},
                                 {"address", row.address},
                                 {"addressHex", HexNumber(row.address, 8)},
                                 {"size", row.size},
                                 {"compressedLength", row.compressedLength},
                                 {"flag", row.flag},
                                 {"ratio", std::round(row.ratio * 10000) / 10000},
                                 {"ok", row.ok}});
  }
  result["faults"] = json::array();
  for (const BlockFault& fault : report.faults) {
    result["faults"].push_back(
        {{"block", fault.block}, {"offset", fault.offset}, {"what", fault.what}});
  }
  // Header texts are whatever bytes the file holds: those that are not UTF-8 become U+FFFD.
  const std::string text = JsonText(result, 2) + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
}

void PrintInspectFailureJson(std::FILE* out, const std::string& fileName, const std::string& why) {
  json result = {{"schema", kInspectSchemaVersion}, {"file", fileName}};
  AddExactBytes(result, "file", fileName);
  result["sound"] = false;
  result["failure"] = why;
  const std::string text = JsonText(result, 2) + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
}

}  // namespace vn

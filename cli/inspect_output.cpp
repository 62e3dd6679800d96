#include "cli/inspect_output.h"

#include <cinttypes>

namespace vn {
namespace {

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

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte >= 0x20 && byte < 0x7F) {
      json += c;
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", byte);
      json += escaped;
    }
  }
  return json + "\"";
}

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
  std::fprintf(out, "{\n  \"file\": %s,\n  \"fileSize\": %zu,\n  \"sound\": %s,\n",
               JsonString(fileName).c_str(), report.fileSize, report.Sound() ? "true" : "false");
  if (report.headerFound) {
    const FileIdentity& id = report.identity;
    std::fprintf(out,
                 "  \"header\": {\"identForNocheck\": %u, \"manufactureIdent\": %s, "
                 "\"hardwareModule\": %s, \"hardwareVersion\": %s, \"softwareModule\": %s, "
                 "\"softwareVersion\": %s, \"kindCode\": %u, \"partitionCount\": %d, "
                 "\"totalSize\": %" PRIu32 "},\n",
                 unsigned(id.identForNocheck), JsonString(id.manufactureIdent).c_str(),
                 JsonString(id.hardwareModule).c_str(), JsonString(id.hardwareVersion).c_str(),
                 JsonString(id.softwareModule).c_str(), JsonString(id.softwareVersion).c_str(),
                 unsigned(report.kindCode), report.partitionCount, report.totalSize);
  } else {
    std::fprintf(out, "  \"header\": null,\n");
  }
  std::fprintf(out, "  \"regions\": [");
  for (size_t i = 0; i < report.regions.size(); ++i) {
    const RegionRow& row = report.regions[i];
    std::fprintf(out,
                 "%s\n    {\"region\": %d, \"offset\": %zu, \"address\": %" PRIu32
                 ", \"addressHex\": \"0x%08" PRIX32 "\", \"size\": %" PRIu32
                 ", \"compressedLength\": %" PRIu32 ", \"flag\": %u, \"ratio\": %.4f, \"ok\": %s}",
                 i == 0 ? "" : ",", row.region, row.descriptorOffset, row.address, row.address,
                 row.size, row.compressedLength, unsigned(row.flag), row.ratio,
                 row.ok ? "true" : "false");
  }
  std::fprintf(out, "%s],\n  \"faults\": [", report.regions.empty() ? "" : "\n  ");
  for (size_t i = 0; i < report.faults.size(); ++i) {
    const BlockFault& fault = report.faults[i];
    std::fprintf(out, "%s\n    {\"block\": %s, \"offset\": %zu, \"what\": %s}", i == 0 ? "" : ",",
                 JsonString(fault.block).c_str(), fault.offset, JsonString(fault.what).c_str());
  }
  std::fprintf(out, "%s]\n}\n", report.faults.empty() ? "" : "\n  ");
}

}  // namespace vn

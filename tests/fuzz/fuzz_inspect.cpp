// Inspection must describe any bytes whatsoever without reading out of bounds or misbehaving;
// the sanitizers turn any slip into a crash the fuzzer reports.
#include <cstddef>
#include <cstdint>
#include <span>

#include "dld/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const vn::InspectReport report = vn::InspectUpgradeFile(std::span<const uint8_t>(data, size));
  // Whatever the bytes, a report either holds faults or every region is sound.
  if (!report.Sound()) {
    if (report.faults.empty() && report.headerFound) __builtin_trap();
  } else {
    for (const vn::RegionRow& row : report.regions) {
      if (!row.ok) __builtin_trap();
    }
  }
  return 0;
}

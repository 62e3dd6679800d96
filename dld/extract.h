#pragma once
// Writes the regions of an upgrade file back into a flash image that starts at kFlashBase.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dld/inspect.h"
#include "platform/failure.h"

namespace vn {

// Expands every region into `image` at its address, growing the image with 0xFF where a region
// reaches past its end. Only a file that inspects sound is applied, and only when all its regions
// lie within the 2 MiB flash; otherwise false with `failure` (kDamaged), and the image is
// unchanged.
bool ExtractIntoImage(std::span<const uint8_t> file, std::vector<uint8_t>& image,
                      Failure* failure = nullptr);

enum class ExtractOutcome { Written, Unsound, IoError };

struct ExtractResult {
  ExtractOutcome outcome = ExtractOutcome::IoError;
  Failure failure;  // why, when not written
};

// ExtractIntoImage on the image file at `imagePath`: one that does not exist starts as 2 MiB of
// 0xFF, and a shorter one is made 2 MiB with 0xFF after its end. The image file is replaced as a
// whole or left as it was.
ExtractResult ExtractToImageFile(std::span<const uint8_t> file, const std::string& imagePath);

}  // namespace vn

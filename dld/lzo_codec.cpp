#include "dld/lzo_codec.h"

#include <lzo/lzo1x.h>


namespace vn {
namespace {

bool LzoReady() {
  static const bool ready = lzo_init() == LZO_E_OK;
  return ready;
}

}  // namespace

std::vector<uint8_t> LzoCompress(std::span<const uint8_t> input) {
  if (!LzoReady()) return {};
  // Worst case for incompressible input, from the library's documentation.
  std::vector<uint8_t> output(input.size() + input.size() / 16 + 64 + 3);
  std::vector<uint8_t> work(LZO1X_999_MEM_COMPRESS);
  lzo_uint outLength = output.size();
  if (lzo1x_999_compress(input.data(), input.size(), output.data(), &outLength, work.data()) !=
      LZO_E_OK) {
    return {};
  }
  output.resize(outLength);
  return output;
}

std::optional<std::vector<uint8_t>> LzoDecompress(std::span<const uint8_t> input,
                                                  uint32_t expectedSize) {
  if (!LzoReady()) return std::nullopt;
  std::vector<uint8_t> output(expectedSize);
  lzo_uint outLength = output.size();
  // The safe decoder checks both buffers' bounds, so a corrupt stream cannot overrun.
  const int rc =
      lzo1x_decompress_safe(input.data(), input.size(), output.data(), &outLength, nullptr);
  if (rc != LZO_E_OK || outLength != expectedSize) return std::nullopt;
  return output;
}

}  // namespace vn

#pragma once
// Helpers shared by the file tests: a deterministic flash image and a scratch folder.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dld/pack.h"
#include "support/fresh_folder.h"

namespace vn::test {

// 2 MiB that mixes what real flash holds: code-like repeats, erased 0xFF runs and stretches of
// noise that LZO cannot shrink. The same seed always gives the same bytes.
inline std::vector<uint8_t> MakeFlashImage(uint32_t seed = 1, size_t size = 0x200000) {
  std::vector<uint8_t> image(size);
  uint32_t state = seed * 2654435761u + 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  for (size_t block = 0; block < size; block += 0x1000) {
    const uint32_t style = next() % 4;
    for (size_t i = block; i < block + 0x1000 && i < size; ++i) {
      switch (style) {
        case 0:
          image[i] = uint8_t(next());
          break;  // noise
        case 1:
          image[i] = 0xFF;
          break;  // erased
        case 2:
          image[i] = uint8_t("MOV R1, R2; BL 0x4000;"[i % 22]);
          break;  // repeats
        default:
          image[i] = uint8_t((i * 7) ^ (i >> 5));
          break;  // patterned
      }
    }
  }
  return image;
}

// One region built by hand, so its descriptor can say what its data block does not.
inline std::vector<uint8_t> OneRegionFile(uint32_t address, std::span<const uint8_t> contents,
                                          std::span<const uint8_t> compressed) {
  const auto header = MakeHeader({}, kNoKindCode, 1);
  std::vector<uint8_t> file(BytesOf(*header), BytesOf(*header) + kHeaderSize);
  const auto descriptor = MakeDescriptor(0, address, contents, compressed);
  file.insert(file.end(), BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
  AppendDataBlock(file, compressed);
  StampTotalSize(file);
  return file;
}

class ScratchFolder {
 public:
  ScratchFolder() : path_(CreateFreshFolder("vn-test-")) {}
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  std::string File(const std::string& name) const { return (path_ / name).string(); }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace vn::test

// Writes seed upgrade files into the folder named on the command line: small region sets packed
// from a deterministic image, and single tiny regions, so the fuzzer starts from sound files.
#include <cstdio>
#include <string>
#include <vector>

#include "dld/file_io.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "dld/region_sets.h"

namespace {

std::vector<uint8_t> SeedImage() {
  std::vector<uint8_t> image(vn::kFlashSize, 0xFF);
  uint32_t state = 12345;
  for (size_t i = 0; i < image.size(); ++i) {
    if ((i / 512) % 8 == 0) {
      state = state * 1664525u + 1013904223u;
      image[i] = uint8_t(state >> 24);  // noise
    } else if ((i / 512) % 8 < 4) {
      image[i] = uint8_t(i >> 3);  // ramps
    }
  }
  return image;
}

std::vector<uint8_t> TinyRegionFile(uint32_t address, const std::vector<uint8_t>& contents) {
  const std::vector<uint8_t> compressed = vn::LzoCompress(contents);
  const auto header = vn::MakeHeader({0, "SEED", "HW", "1", "SW", "2"}, 1);
  std::vector<uint8_t> file(vn::BytesOf(*header), vn::BytesOf(*header) + vn::kHeaderSize);
  const auto descriptor = vn::MakeDescriptor(1, address, contents, compressed);
  file.insert(file.end(), vn::BytesOf(descriptor), vn::BytesOf(descriptor) + vn::kDescriptorSize);
  vn::AppendDataBlock(file, compressed);
  vn::StampTotalSize(file);
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  const std::vector<uint8_t> image = SeedImage();
  for (int operation : {2, 3, 4}) {  // default, key, loader: the smaller sets
    seeds.emplace_back(std::string(vn::SetName(operation)) + ".dld",
                       *vn::PackUpgradeFile(operation, image, {}));
  }
  seeds.emplace_back("tiny-zeros.dld", TinyRegionFile(0x40180000, std::vector<uint8_t>(64, 0)));
  seeds.emplace_back(
      "tiny-mixed.dld",
      TinyRegionFile(0x401FC000, std::vector<uint8_t>(image.begin(), image.begin() + 700)));
  seeds.emplace_back("empty-set.dld", TinyRegionFile(0x40000000, {}));
  for (const auto& [name, bytes] : seeds) {
    std::string error;
    if (!vn::WriteFileAtomically(folder + "/" + name, bytes, &error)) {
      std::fprintf(stderr, "fuzz_seeds: %s\n", error.c_str());
      return 1;
    }
  }
  return 0;
}

// Writes the fuzzers' seeds into the folder named on the command line, one subfolder per fuzzer:
// inspect/ small region sets packed from a deterministic image and single tiny regions, so the
// fuzzer starts from sound files; upload/ what a box sends for a whole upload; command/ the
// answers of a box to a whole download. Everything is made by our own packer.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "dld/byte_order.h"
#include "dld/file_io.h"
#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "dld/region_sets.h"
#include "link/wire_format.h"
#include "support/sample_files.h"

namespace {

std::vector<uint8_t> TinyRegionFile(uint32_t address, const std::vector<uint8_t>& contents) {
  return vn::testing::OneRegionFile(address, contents, vn::LzoCompress(contents));
}

// The region set's number, then the box's side of a whole upload in the order the PC reads it:
// the header, the ACK of the read request, and per region its descriptor and its data frames.
std::vector<uint8_t> UploadScript(vn::Operation operation, const std::vector<uint8_t>& file) {
  std::vector<uint8_t> script = {uint8_t(vn::PositionOf(operation) - 1)};  // its upload set
  script.insert(script.end(), file.begin(), file.begin() + vn::kHeaderSize);
  script.push_back(vn::ACK);
  for (size_t at = vn::kHeaderSize; at < file.size();) {
    script.insert(script.end(), file.begin() + at, file.begin() + at + vn::kDescriptorSize);
    const size_t blockSize = vn::GetLe24(&file[at + 14]) + vn::kDataBlockOverhead;
    at += vn::kDescriptorSize;
    uint8_t number = 1;
    for (size_t sent = 0; sent < blockSize; sent += vn::kFramePayloadMax, ++number) {
      const size_t payload = std::min<size_t>(vn::kFramePayloadMax, blockSize - sent);
      const vn::DataFrame frame =
          vn::BuildDataFrame(number, std::span<const uint8_t>(&file[at + sent], payload));
      script.insert(script.end(), frame.begin(), frame.end());
    }
    at += blockSize;
  }
  return script;
}

// A box that accepts a one-region download: ACK for the header, the verdict, ACK for the
// descriptor and the one data frame, then one erase and one program report.
std::vector<uint8_t> DownloadAnswers() {
  std::vector<uint8_t> answers = {vn::ACK};
  const auto append = [&answers](const vn::CommandFrame& frame) {
    answers.insert(answers.end(), frame.begin(), frame.end());
  };
  append(vn::MakeCommandFrame(vn::kCodeIdent, 1));
  answers.insert(answers.end(), {vn::ACK, vn::ACK});
  append(vn::MakeCommandFrame(vn::kCodeErase, 1));
  append(vn::MakeCommandFrame(vn::kCodeProgram, 1));
  return answers;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  const std::vector<uint8_t> image = vn::testing::SampleFlashImage(1);
  // default, key, loader: the smaller sets
  for (const vn::Operation operation :
       {vn::Operation::kUploadDefault, vn::Operation::kUploadKey, vn::Operation::kUploadLoader}) {
    const std::vector<uint8_t> file = *vn::PackUpgradeFile(vn::RegionSetOf(operation), image, {});
    seeds.emplace_back("inspect/" + std::string(vn::SetName(operation)) + ".dld", file);
    seeds.emplace_back("upload/" + std::string(vn::SetName(operation)),
                       UploadScript(operation, file));
  }
  seeds.emplace_back("command/download", DownloadAnswers());
  const auto request = vn::BuildReadRequest(vn::UploadRegionList(vn::Operation::kUploadData));
  seeds.emplace_back("command/read-request", std::vector<uint8_t>(request.begin(), request.end()));
  seeds.emplace_back("inspect/tiny-zeros.dld",
                     TinyRegionFile(0x40180000, std::vector<uint8_t>(64, 0)));
  seeds.emplace_back(
      "inspect/tiny-mixed.dld",
      TinyRegionFile(0x401FC000, std::vector<uint8_t>(image.begin(), image.begin() + 700)));
  seeds.emplace_back("inspect/empty-set.dld", TinyRegionFile(0x40000000, {}));
  for (const char* kind : {"inspect", "upload", "command"}) {
    std::error_code ignored;
    std::filesystem::create_directories(folder + "/" + kind, ignored);
  }
  for (const auto& [name, bytes] : seeds) {
    vn::Failure failure;
    if (!vn::WriteFileAtomically(folder + "/" + name, bytes, failure)) {
      std::fprintf(stderr, "fuzz_seeds: %s\n", vn::FailureText(failure).c_str());
      return 1;
    }
  }
  return 0;
}

#include "link/wire_format.h"

#include <algorithm>

#include "dld/byte_order.h"
#include "dld/crc32.h"

namespace vn {

uint8_t DataFrameSum(const uint8_t* frame) {
  uint32_t sum = 0;
  for (int i = kFramePayloadAt; i < kFrameSumAt; ++i) sum += frame[i];
  return uint8_t(sum);
}

DataFrame BuildDataFrame(uint8_t frameNumber, std::span<const uint8_t> payload) {
  DataFrame frame{};
  frame[0] = STX;
  frame[1] = frameNumber;
  frame[2] = uint8_t(~frameNumber);
  const size_t count = std::min<size_t>(payload.size(), kFramePayloadMax);
  std::copy_n(payload.begin(), count, frame.begin() + kFramePayloadAt);
  frame[kFrameSumAt] = DataFrameSum(frame.data());
  return frame;
}

bool DataFramePasses(const uint8_t* frame) {
  return frame[0] == STX && frame[2] == uint8_t(~frame[1]) &&
         frame[kFrameSumAt] == DataFrameSum(frame);
}

std::array<uint8_t, kReadRequestSize> BuildReadRequest(std::span<const UploadRegion> regions) {
  std::array<uint8_t, kReadRequestSize> request{};
  const int k = std::min<int>(int(regions.size()), kMaxRequestRegions);
  request[0] = STX;
  PutLe16(&request[1], uint32_t(8 + 8 * k));
  request[3] = uint8_t(k);
  for (int i = 0; i < k; ++i) {
    uint8_t* entry = &request[4 + 8 * i];
    entry[0] = regions[i].flag;
    PutLe32(entry + 1, regions[i].address);
    PutLe24(entry + 5, regions[i].size);
  }
  const int crcAt = 4 + 8 * k;
  PutLe32(&request[crcAt], CalcCrc32(request.data(), crcAt));
  return request;
}

std::optional<std::vector<UploadRegion>> ParseReadRequest(const uint8_t* request) {
  if (request[0] != STX) return std::nullopt;
  const int k = request[3];
  if (k > kMaxRequestRegions || GetLe16(request + 1) != uint32_t(8 + 8 * k)) return std::nullopt;
  const int crcAt = 4 + 8 * k;
  if (GetLe32(request + crcAt) != CalcCrc32(request, crcAt)) return std::nullopt;
  std::vector<UploadRegion> regions(k);
  for (int i = 0; i < k; ++i) {
    const uint8_t* entry = request + 4 + 8 * i;
    regions[i] = {entry[0], GetLe32(entry + 1), GetLe24(entry + 5)};
  }
  return regions;
}

}  // namespace vn

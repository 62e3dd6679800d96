#pragma once
// Upgrade-file pieces built in the tests themselves, and the PC's half of the frame exchange.
#include <cstdint>
#include <vector>

#include "dld/pack.h"
#include "mini_pc.h"
#include "sim/virtual_box.h"
#include "support/sample_files.h"

namespace vn::testing {

// A sealed 71-byte download header carrying `identity` and `count` partitions.
std::vector<uint8_t> HeaderFor(const FileIdentity& identity, int count);

struct PackedPartition {
  uint32_t address = 0;
  std::vector<uint8_t> contents;
  std::vector<uint8_t> descriptor;  // 26 bytes
  std::vector<uint8_t> block;       // tag, r + 4, r compressed bytes, CRC
};
PackedPartition Pack(uint32_t address, std::vector<uint8_t> contents);

// Sends a data block the way the PC does (1020-byte payloads, the last frame carrying the rest),
// numbering from `number` on; a frame answered with NAK is sent again. False when an answer
// other than ACK or NAK came, or none.
bool SendBlock(MiniPc& pc, const std::vector<uint8_t>& block, uint8_t& number);

// Sends the header, descriptors and blocks of a download after Connect, expecting ACKs and an
// accepting verdict.
bool SendPartitions(MiniPc& pc, const std::vector<uint8_t>& header,
                    const std::vector<PackedPartition>& partitions);

bool IsCommand(const std::vector<uint8_t>& frame, uint8_t code, uint8_t sub);

}  // namespace vn::testing

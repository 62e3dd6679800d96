#pragma once
// Byte layouts of the upgrade file's blocks. Every member is a byte or a byte array, so the
// records have no padding and can be read from and written to files and the cable as they are.
#include <cstddef>
#include <cstdint>
#include <span>

namespace vn {

inline constexpr uint8_t kHeaderTag = 0x11;
inline constexpr uint8_t kDescriptorTag = 0x22;
inline constexpr uint8_t kDataTag = 0x33;

inline constexpr int kHeaderSize = 71;      // tag, 2-byte length (68), payload, CRC
inline constexpr int kHeaderLength = 68;    // the length field's value
inline constexpr int kDescriptorSize = 26;  // tag, 1-byte length (24), payload, CRC
inline constexpr int kDescriptorLength = 24;
inline constexpr int kDataBlockOverhead = 8;  // tag, 3-byte length, CRC around r compressed bytes
inline constexpr int kPieceSize = 1000;       // descriptor byte 21 counts pieces of this size

// The header's CRC covers bytes 3..66; the descriptor's covers bytes 2..21.
inline constexpr int kHeaderCrcFrom = 3;
inline constexpr int kHeaderCrcCount = 64;
inline constexpr int kHeaderCrcAt = 67;
inline constexpr int kDescriptorCrcFrom = 2;
inline constexpr int kDescriptorCrcCount = 20;
inline constexpr int kDescriptorCrcAt = 22;

struct FILE_DOWNLOAD_HEADER_T {
  uint8_t tag;                // 0x11
  uint8_t length[2];          // 68
  uint8_t identForNocheck;    // 1: the box accepts the file whatever its identity
  char manufactureIdent[15];  // texts are NUL-padded; a full-width text has no NUL
  char hardwareModule[8];
  char hardwareVersion[8];
  char softwareModule[8];
  char softwareVersion[8];
  uint8_t partitionKind;   // kind code of the region set
  uint8_t partitionCount;  // N
  uint8_t totalSize[3];    // iTotalSize: the whole file's size, 24-bit
  uint8_t reserved[11];    // the box's own, carried unchanged
  uint8_t crc[4];          // CRC-32 of bytes 3..66
};
static_assert(sizeof(FILE_DOWNLOAD_HEADER_T) == kHeaderSize);
static_assert(offsetof(FILE_DOWNLOAD_HEADER_T, partitionKind) == 51);
static_assert(offsetof(FILE_DOWNLOAD_HEADER_T, crc) == 67);

struct FILE_PARTITION_HEADER_T {
  uint8_t tag;                  // 0x22
  uint8_t length;               // 24
  uint8_t flag;                 // the box's region flag, carried unchanged
  uint8_t address[4];           // flash address in the box
  uint8_t regionSize[3];        // uncompressed size
  uint8_t regionCrc[4];         // CRC-32 of the uncompressed contents
  uint8_t compressedLength[3];  // r
  uint8_t compressedCrc[4];     // CRC-32 of the r compressed bytes
  uint8_t pieceCount;           // ceil((r + 8) / 1000)
  uint8_t crc[4];               // CRC-32 of bytes 2..21
};
static_assert(sizeof(FILE_PARTITION_HEADER_T) == kDescriptorSize);
static_assert(offsetof(FILE_PARTITION_HEADER_T, pieceCount) == 21);

// Number of 1000-byte pieces a data block of r compressed bytes (r + 8 in all) takes.
inline constexpr uint8_t PieceCountOf(uint32_t compressedLength) {
  const uint32_t total = compressedLength + kDataBlockOverhead;
  return uint8_t(total / kPieceSize + (total % kPieceSize != 0 ? 1 : 0));
}

// Recomputes the stored CRC of a header (bytes 3..66) or a descriptor (bytes 2..21).
void SealHeader(FILE_DOWNLOAD_HEADER_T& header);
void SealDescriptor(FILE_PARTITION_HEADER_T& descriptor);
bool HeaderCrcMatches(const FILE_DOWNLOAD_HEADER_T& header);
bool DescriptorCrcMatches(const FILE_PARTITION_HEADER_T& descriptor);
// A header is valid when its tag is 0x11 and its length's low byte is 0x44; byte 2 is not examined.
bool HeaderIsValid(const FILE_DOWNLOAD_HEADER_T& header);

// How a data block stands to the descriptor that announces it. Every reader of data blocks on
// the PC's side judges them here.
struct DataBlockAgreement {
  bool sized = false;         // tag 0x33, length field r + 4, r + 8 bytes in all (r: descriptor's)
  bool crcSound = false;      // its stored CRC is the CRC of its compressed bytes
  bool crcAnnounced = false;  // its stored CRC is the one the descriptor states
  bool Agrees() const { return sized && crcSound && crcAnnounced; }
};
DataBlockAgreement CompareDataBlock(const FILE_PARTITION_HEADER_T& descriptor,
                                    std::span<const uint8_t> block);

inline const uint8_t* BytesOf(const FILE_DOWNLOAD_HEADER_T& h) {
  return reinterpret_cast<const uint8_t*>(&h);
}
inline uint8_t* BytesOf(FILE_DOWNLOAD_HEADER_T& h) {
  return reinterpret_cast<uint8_t*>(&h);
}
inline const uint8_t* BytesOf(const FILE_PARTITION_HEADER_T& d) {
  return reinterpret_cast<const uint8_t*>(&d);
}
inline uint8_t* BytesOf(FILE_PARTITION_HEADER_T& d) {
  return reinterpret_cast<uint8_t*>(&d);
}

}  // namespace vn

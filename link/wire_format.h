#pragma once
// The bytes that cross the cable, shared by the PC side (framing) and the virtual box: control
// bytes, command frames, 1024-byte data frames and the read request. Pure functions, no I/O.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "dld/region_sets.h"

namespace vn {

inline constexpr uint8_t STX = 0x02;
inline constexpr uint8_t ETX = 0x03;
inline constexpr uint8_t ACK = 0x06;
inline constexpr uint8_t NAK = 0x15;

inline constexpr int kCommandFrameSize = 4;  // STX, code, sub, ETX
inline constexpr int kDataFrameSize = 1024;
inline constexpr int kFramePayloadMax = 1020;
inline constexpr int kFramePayloadAt = 3;
inline constexpr int kFrameSumAt = 1023;
inline constexpr int kReadRequestSize = 1024;
// The regions one read request can name: 8 bytes each between its 4-byte head and its CRC.
inline constexpr int kMaxRequestRegions = (kReadRequestSize - 8) / 8;

// Command codes (byte 1 of a command frame).
inline constexpr uint8_t kCodeReady = 0x01;
inline constexpr uint8_t kCodeIdent = 0x03;    // sub 0 refused, non-zero accepted
inline constexpr uint8_t kCodeErase = 0x05;    // sub 0 failed, non-zero one partition erased
inline constexpr uint8_t kCodeProgram = 0x06;  // sub 0 failed, non-zero one partition programmed
inline constexpr uint8_t kCodeUpload = 0x09;   // PC asks for an upload
inline constexpr uint8_t kCodeDownload = 0x0A; // PC asks for a download

using CommandFrame = std::array<uint8_t, kCommandFrameSize>;
using DataFrame = std::array<uint8_t, kDataFrameSize>;

inline CommandFrame MakeCommandFrame(uint8_t code, uint8_t sub) { return {STX, code, sub, ETX}; }

// STX, number, ~number, payload zero-padded to 1020 bytes, sum of the 1020 bytes mod 256.
DataFrame BuildDataFrame(uint8_t frameNumber, std::span<const uint8_t> payload);
// Sum modulo 256 of bytes 3..1022.
uint8_t DataFrameSum(const uint8_t* frame);
// STX first, byte 2 the complement of byte 1, byte 1023 the sum.
bool DataFramePasses(const uint8_t* frame);

// STX, 16-bit total length 8 + 8k, k, k regions of (flag, address, 24-bit size), CRC-32 of
// everything before it, zero to 1024 bytes. Only the first kMaxRequestRegions fit: a caller with
// more must refuse them itself.
std::array<uint8_t, kReadRequestSize> BuildReadRequest(std::span<const UploadRegion> regions);
// The regions of a read request whose length and CRC check out; nullopt otherwise.
std::optional<std::vector<UploadRegion>> ParseReadRequest(const uint8_t* request);

}  // namespace vn

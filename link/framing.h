#pragma once
// The PC's side of every exchange with the box: send one message, await one short answer, with
// the poll budgets and retry counts of the protocol. Every wait ends at its next poll once the
// port's PortOpened is cleared (closed, vanished, or RequestStop from another thread).
//
// Budgets are counted in 1-millisecond polls but measured on a monotonic clock, so that a wait
// can sleep on the port instead of waking a thousand times a second.
#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>

#include "dld/blocks.h"
#include "dld/region_sets.h"
#include "link/com_port.h"
#include "link/link_message.h"

namespace vn {

inline constexpr int kReplyPolls = 5000;   // ACK or NAK after anything the PC sent
inline constexpr int kHeaderPolls = 1001;  // header block from the box, per attempt
inline constexpr int kHeaderAttempts = 10;
inline constexpr int kDescriptorPolls = 1001;  // descriptor block from the box
inline constexpr int kDataFramePolls = 501;    // data frame from the box
inline constexpr int kMaxFailuresInRow = 10;

// Called after each acknowledged (sent) or accepted (received) data frame with its payload size.
using FrameDone = std::function<void(int32_t payloadBytes)>;

// Writes a whole message and counts it in the port's tally; true when all of it was written.
bool Transmit(ComPort& port, const uint8_t* data, int32_t count);

void SendAck(ComPort& port);
void SendNak(ComPort& port);
void SendCommand(ComPort& port, int index);

// ACK, NAK or STX when one arrives within `polls`; 0 on time-out or a closed port. Other bytes are
// dropped.
uint8_t WaitReplyByte(ComPort& port, int polls = kReplyPolls);
// Index of the first 4-byte frame starting with STX, waiting without limit; -1 for an
// undecodable frame or a closed port.
int ReceiveCommand(ComPort& port);
// True when the first command frame is the box's ready frame.
bool WaitConnect(ComPort& port);

// Download side. `image` is the upgrade file's bytes, read once for the whole run; positions are
// byte offsets in it. Nothing past its end is ever sent.
bool SendHeaderBlock(ComPort& port, const uint8_t* header71);
bool SendDescriptor(ComPort& port, std::span<const uint8_t> image, int64_t& position);
bool SendDataFrame(ComPort& port, std::span<const uint8_t> image, int64_t& position,
                   int32_t payloadCount, int frameNumber);
bool SendSection(ComPort& port, std::span<const uint8_t> image, int64_t& position, int& frameNumber,
                 const FrameDone& onFrame = {});

// Upload side.
bool ReceiveHeaderBlock(ComPort& port, uint8_t* header71);
bool SendReadRequest(ComPort& port, std::span<const UploadRegion> regions);
bool ReceiveDescriptor(ComPort& port, uint8_t* descriptor26);
bool ReceiveDataFrame(ComPort& port, uint8_t* frame1024);
// Takes the payload of one accepted data frame before it is acknowledged; false when it could not
// be kept (a write that failed), which ends the block unacknowledged.
using PayloadSink = std::function<bool(std::span<const uint8_t> payload)>;
// Receives a data block of `blockSize` bytes, handing each frame's payload to `sink`; `failures`
// is the caller's consecutive-failure count, shared with its descriptor loop. False when ten
// failures in a row ended it, when the port was closed before the block was complete, or when the
// sink refused a payload.
bool ReceiveSection(ComPort& port, const PayloadSink& sink, int32_t blockSize, int& failures,
                    const FrameDone& onFrame = {});
// The same into `file` from `position` on.
bool ReceiveSection(ComPort& port, std::FILE* file, int64_t& position, int32_t blockSize,
                    int& failures, const FrameDone& onFrame = {});

}  // namespace vn

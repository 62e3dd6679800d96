#include "mini_pc.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <thread>

#include "dld/blocks.h"
#include "dld/lzo_codec.h"

namespace vn::testing {

MiniPc::MiniPc(const std::string& path) {
  fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd_ < 0) return;
  termios settings{};
  tcgetattr(fd_, &settings);
  cfmakeraw(&settings);
  tcsetattr(fd_, TCSANOW, &settings);
  tcflush(fd_, TCIOFLUSH);
}

MiniPc::~MiniPc() {
  Close();
}

void MiniPc::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool MiniPc::Write(std::span<const uint8_t> bytes) {
  if (fd_ < 0) return false;
  tcflush(fd_, TCIFLUSH);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno != EAGAIN) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    done += size_t(n);
  }
  return true;
}

PcRead MiniPc::Read(size_t count, std::vector<uint8_t>& message,
                    std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd entry{fd_, POLLIN, 0};
    poll(&entry, 1, 5);
    if (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) return PcRead::kVanished;
    int waiting = 0;
    if (ioctl(fd_, FIONREAD, &waiting) != 0) return PcRead::kVanished;
    if (size_t(waiting) > count) {
      tcflush(fd_, TCIFLUSH);
    } else if (size_t(waiting) == count) {
      message.resize(count);
      if (read(fd_, message.data(), count) == ssize_t(count)) return PcRead::kOk;
      return PcRead::kVanished;
    } else if (waiting > 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return PcRead::kTimeout;
}

std::vector<uint8_t> MiniPc::Read(size_t count, std::chrono::milliseconds timeout) {
  std::vector<uint8_t> message;
  if (Read(count, message, timeout) != PcRead::kOk) message.clear();
  return message;
}

bool MiniPc::Connect(uint8_t startCode) {
  const auto ready = Read(kCommandFrameSize);
  return ready.size() == 4 && ready[0] == STX && ready[1] == kCodeReady && WriteCommand(startCode);
}

PackedPartition Pack(uint32_t address, std::vector<uint8_t> contents) {
  PackedPartition packed;
  packed.address = address;
  packed.contents = std::move(contents);
  const std::vector<uint8_t> compressed = LzoCompress(packed.contents);
  const FILE_PARTITION_HEADER_T descriptor =
      MakeDescriptor(0, address, packed.contents, compressed);
  packed.descriptor.assign(BytesOf(descriptor), BytesOf(descriptor) + kDescriptorSize);
  AppendDataBlock(packed.block, compressed);
  return packed;
}

bool SendBlock(MiniPc& pc, const std::vector<uint8_t>& block, uint8_t& number) {
  size_t offset = 0;
  for (bool last = false; !last;) {
    const size_t remaining = block.size() - offset;
    last = remaining < size_t(kFramePayloadMax);
    const size_t payload = last ? remaining : size_t(kFramePayloadMax);
    const DataFrame frame = BuildDataFrame(number, std::span(block).subspan(offset, payload));
    for (;;) {
      pc.Write(frame);
      const auto answer = pc.Read(1);
      if (answer.size() != 1) return false;
      if (answer[0] == ACK) break;
      if (answer[0] != NAK) return false;
    }
    ++number;
    offset += payload;
  }
  return true;
}

bool SendPartitions(MiniPc& pc, const std::vector<uint8_t>& header,
                    const std::vector<PackedPartition>& partitions) {
  pc.Write(header);
  if (pc.Read(1) != std::vector<uint8_t>{ACK}) return false;
  if (!IsCommand(pc.Read(kCommandFrameSize), kCodeIdent, 1)) return false;
  uint8_t number = 1;
  for (const PackedPartition& partition : partitions) {
    pc.Write(partition.descriptor);
    if (pc.Read(1) != std::vector<uint8_t>{ACK}) return false;
    if (!SendBlock(pc, partition.block, number)) return false;
  }
  return true;
}

bool IsCommand(const std::vector<uint8_t>& frame, uint8_t code, uint8_t sub) {
  return frame.size() == size_t(kCommandFrameSize) && frame[0] == STX && frame[1] == code &&
         frame[2] == sub && frame[3] == ETX;
}

}  // namespace vn::testing

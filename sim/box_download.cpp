// The box's side of a download: header and verdict, N partitions of descriptor and data frames,
// then N erase and N program reports, and only then the regions written into the image.
#include <algorithm>
#include <cstring>

#include "dld/byte_order.h"
#include "link/wire_format.h"
#include "sim/box_blocks.h"
#include "sim/box_session.h"

namespace vn {
namespace {

constexpr uint32_t kSectorSize = 0x10000;

// How long erasing or programming a region takes: `perSector` for 64 KiB, a share of it for less.
std::chrono::milliseconds FlashWork(std::chrono::milliseconds perSector, uint32_t regionSize) {
  const auto share = perSector * int64_t(regionSize) / int64_t(kSectorSize);
  return perSector.count() == 0 ? perSector : std::max(kShortestFlashWork, share);
}

bool InsideFlash(uint32_t address, size_t size) {
  return address >= kFlashBase && address - kFlashBase <= kFlashSize &&
         size <= kFlashSize - (address - kFlashBase);
}

}  // namespace

SessionEnd BoxSession::RunDownload() {
  if (auto end = AtStep(FaultStep::kStart)) return *end;
  FILE_DOWNLOAD_HEADER_T header;
  bool verdictSent = false;
  if (auto end = ReceiveHeader(header, verdictSent)) return *end;
  const bool accepted = verdictSent ? backToBackVerdict_ : Judge(header);
  if (!verdictSent) {
    if (auto end = AtStep(FaultStep::kVerdict)) return *end;
    if (auto end = SendAfter(options_.judgeTime, MakeCommandFrame(kCodeIdent, accepted ? 1 : 0))) {
      return *end;
    }
  }
  if (!accepted) {
    summary_ = "download refused: the file's identity does not fit this box";
    return SessionEnd::kRefused;
  }

  const int count = header.partitionCount;
  std::vector<FILE_PARTITION_HEADER_T> descriptors(count);
  std::vector<std::vector<uint8_t>> contents(count);
  std::vector<bool> intact(count, false);
  for (int p = 0; p < count; ++p) {
    if (auto end = ReceiveDescriptor(descriptors[p])) return *end;
    std::vector<uint8_t> block;
    const size_t blockSize = GetLe24(descriptors[p].compressedLength) + kDataBlockOverhead;
    if (auto end = ReceiveBlock(blockSize, p + 1 == count, block)) return *end;
    const uint32_t address = GetLe32(descriptors[p].address);
    auto expanded = InsideFlash(address, GetLe24(descriptors[p].regionSize))
                        ? ExpandPartition(descriptors[p], block)
                        : std::nullopt;
    if (expanded) {
      contents[p] = std::move(*expanded);
      intact[p] = true;
    } else {
      Record([&](BoxStats& stats) {
        stats.lastError = "partition " + std::to_string(p + 1) + " failed its checks";
      });
    }
  }

  if (auto end = AtStep(FaultStep::kErase)) return *end;
  if (auto end = SendReports(kCodeErase, FaultStep::kErase, faults_.eraseFailAt,
                             std::vector<bool>(count, true), descriptors)) {
    return *end;
  }
  if (auto end = AtStep(FaultStep::kProgram)) return *end;
  if (auto end = SendReports(kCodeProgram, FaultStep::kProgram, faults_.programFailAt, intact,
                             descriptors)) {
    return *end;
  }

  int programmed = 0;
  shared_.Update([&](BoxStats& stats, std::vector<uint8_t>& flash) {
    for (int p = 0; p < count; ++p) {
      if (!intact[p]) continue;
      const uint32_t address = GetLe32(descriptors[p].address);
      std::copy(contents[p].begin(), contents[p].end(), flash.begin() + (address - kFlashBase));
      stats.programmedAddresses.push_back(address);
      ++stats.partitionsProgrammed;
      ++programmed;
    }
    const uint32_t flip = faults_.flipAfterProgram;
    if (programmed > 0 && flip >= kFlashBase && flip - kFlashBase < flash.size()) {
      flash[flip - kFlashBase] ^= 0xFF;
    }
    ++stats.downloadsDone;
  });
  summary_ = "download: partitions programmed " + std::to_string(programmed) + " of " +
             std::to_string(count) + ", frames received " + std::to_string(framesIn_);
  return SessionEnd::kDone;
}

bool BoxSession::Judge(const FILE_DOWNLOAD_HEADER_T& header) {
  const bool accepted = !faults_.refuseIdentity && HeaderIsValid(header) &&
                        HeaderCrcMatches(header) && HeaderFitsBox(header, options_.identity);
  // Counted before the verdict goes out, so that whoever reads the verdict finds it counted.
  if (!accepted) Record([](BoxStats& stats) { ++stats.identityRefusals; });
  return accepted;
}

BoxSession::Step BoxSession::ReceiveHeader(FILE_DOWNLOAD_HEADER_T& header, bool& verdictSent) {
  std::vector<uint8_t> previousBad;
  for (;;) {
    std::vector<uint8_t> message;
    if (auto end = ReceiveWhole(kHeaderSize, FaultStep::kHeader, "header", message)) return end;
    Record([](BoxStats& stats) { ++stats.headersReceived; });
    if (auto end = AtStep(FaultStep::kHeader)) return end;
    std::memcpy(&header, message.data(), kHeaderSize);
    if (faults_.nakHeaderAlways) {
      Nak();
      continue;
    }
    const bool sound = HeaderIsValid(header) && HeaderCrcMatches(header);
    // A damaged header is asked for again; the same damage twice in a row did not come from the
    // line, so the box takes it and refuses it instead of asking for ever.
    if (!sound && message != previousBad) {
      previousBad = message;
      Nak();
      continue;
    }
    if (sound) acceptedHeader_ = message;
    if (!BackToBack(FaultStep::kVerdict)) {
      if (Ack()) return std::nullopt;
      continue;
    }
    // The verdict right behind the ACK, in one write: the PC finds five bytes where it waits
    // for one.
    backToBackVerdict_ = Judge(header);
    if (Ack(MakeCommandFrame(kCodeIdent, backToBackVerdict_ ? 1 : 0))) {
      verdictSent = true;
      return std::nullopt;
    }
  }
}

BoxSession::Step BoxSession::AnswerRepeatedHeader(const std::vector<uint8_t>& start) {
  std::vector<uint8_t> rest;
  const Receipt receipt = link_.Receive(kHeaderSize - start.size(), std::chrono::seconds(1), rest);
  if (receipt == Receipt::kStopped) return SessionEnd::kStopped;
  std::vector<uint8_t> header = start;
  header.insert(header.end(), rest.begin(), rest.end());
  if (receipt != Receipt::kOk || header != acceptedHeader_) {
    Nak();
    return std::nullopt;
  }
  Record([](BoxStats& stats) { ++stats.headersReceived; });
  if (!Ack()) return std::nullopt;
  return SendAfter(options_.judgeTime, MakeCommandFrame(kCodeIdent, 1));
}

BoxSession::Step BoxSession::ReceiveDescriptor(FILE_PARTITION_HEADER_T& descriptor) {
  for (;;) {
    std::vector<uint8_t> message;
    if (auto end = ReceiveWhole(kDescriptorSize, FaultStep::kDescriptor, "descriptor", message))
      return end;
    if (message[0] == kHeaderTag && !acceptedHeader_.empty()) {
      if (auto end = AnswerRepeatedHeader(message)) return end;
      continue;
    }
    if (message[0] == STX) {
      // The PC missed the ACK of the previous partition's last frame and sends it again.
      std::vector<uint8_t> rest;
      const Receipt receipt =
          link_.Receive(kDataFrameSize - kDescriptorSize, std::chrono::seconds(1), rest);
      if (receipt == Receipt::kStopped) return SessionEnd::kStopped;
      message.insert(message.end(), rest.begin(), rest.end());
      if (receipt == Receipt::kOk && IsRepeatOfPrevious(message)) {
        Record([](BoxStats& stats) {
          ++stats.framesReceived;
          ++stats.framesResent;
        });
        Ack();
      } else {
        Nak();
      }
      continue;
    }
    if (auto end = AtStep(FaultStep::kDescriptor)) return end;
    std::memcpy(&descriptor, message.data(), kDescriptorSize);
    if (descriptor.tag != kDescriptorTag || descriptor.length != kDescriptorLength ||
        !DescriptorCrcMatches(descriptor)) {
      Nak();
      continue;
    }
    if (Ack()) return std::nullopt;
  }
}

bool BoxSession::IsRepeatOfPrevious(const std::vector<uint8_t>& frame) const {
  return anyFrameTaken_ && frame.size() == size_t(kDataFrameSize) &&
         DataFramePasses(frame.data()) && frame[1] == uint8_t(nextFrameNumber_ - 1);
}

BoxSession::Step BoxSession::ReceiveBlock(size_t blockSize, bool lastBlock,
                                          std::vector<uint8_t>& block) {
  block.clear();
  for (;;) {
    // The sender's rule: the rest of the block when fewer than 1020 bytes remain (that frame is
    // the last, so a block of a multiple of 1020 bytes ends with an empty frame), else 1020.
    const size_t remaining = blockSize - block.size();
    const size_t payload = std::min<size_t>(remaining, kFramePayloadMax);
    const bool last = remaining < size_t(kFramePayloadMax);
    std::vector<uint8_t> frame;
    if (auto end = ReceiveWhole(kDataFrameSize, FaultStep::kFrame, "data frame", frame)) return end;
    if (auto end = AtStep(FaultStep::kFrame)) return end;
    ++framesIn_;
    Record([](BoxStats& stats) { ++stats.framesReceived; });
    if (!DataFramePasses(frame.data())) {
      Nak();
      continue;
    }
    Record([&](BoxStats& stats) { stats.frameNumbers.push_back(frame[1]); });
    if (framesIn_ == faults_.nakFrame) naksLeft_ = faults_.nakFrameTimes;
    if (naksLeft_ > 0) {
      --naksLeft_;
      Nak();
      continue;
    }
    if (IsRepeatOfPrevious(frame)) {
      // Its ACK got lost: acknowledge again, but the payload is in the block already.
      Record([](BoxStats& stats) { ++stats.framesResent; });
      Ack();
      continue;
    }
    if (frame[1] != nextFrameNumber_) {
      Nak();
      continue;
    }
    if (last && lastBlock && BackToBack(FaultStep::kFirstErase)) {
      ackOwed_ = true;  // goes out with the first erase report
      Record([](BoxStats& stats) { ++stats.acksSent; });
    } else if (!Ack()) {
      continue;
    }
    block.insert(block.end(), frame.begin() + kFramePayloadAt,
                 frame.begin() + kFramePayloadAt + payload);
    ++nextFrameNumber_;
    anyFrameTaken_ = true;
    if (last) return std::nullopt;
  }
}

BoxSession::Step BoxSession::SendReports(uint8_t code, FaultStep step, int failAt,
                                         const std::vector<bool>& partitionsOk,
                                         const std::vector<FILE_PARTITION_HEADER_T>& descriptors) {
  const auto perSector = code == kCodeErase ? options_.eraseTime : options_.programTime;
  struct Report {
    std::chrono::milliseconds work;
    CommandFrame frame;
  };
  std::vector<Report> reports;
  for (size_t p = 0; p < partitionsOk.size(); ++p) {
    const auto work = FlashWork(perSector, GetLe24(descriptors[p].regionSize));
    // The injected failure comes on top: a success for every partition still follows.
    if (int(p) + 1 == failAt) reports.push_back({work, MakeCommandFrame(code, 0)});
    reports.push_back({work, MakeCommandFrame(code, partitionsOk[p] ? 1 : 0)});
  }
  for (size_t i = 0; i < reports.size(); ++i) {
    std::vector<uint8_t> bytes(reports[i].frame.begin(), reports[i].frame.end());
    if (ackOwed_) {
      // The last frame's ACK and the first report in one write: the PC finds five bytes where
      // it waits for one.
      ackOwed_ = false;
      bytes.insert(bytes.begin(), ACK);
    }
    if (i + 1 < reports.size() && BackToBack(step)) {
      // Two reports in one write: the PC finds eight bytes where it waits for four.
      ++i;
      bytes.insert(bytes.end(), reports[i].frame.begin(), reports[i].frame.end());
    }
    if (auto end = SendAfter(reports[i].work, bytes)) return end;
  }
  return std::nullopt;
}

}  // namespace vn

// The box's side of an upload: its header until the PC acknowledges it and gives its verdict, the
// read request, then for every region asked for its descriptor and its data block in frames.
#include <algorithm>

#include "dld/lzo_codec.h"
#include "dld/pack.h"
#include "link/wire_format.h"
#include "sim/box_blocks.h"
#include "sim/box_session.h"

namespace vn {
namespace {

bool RegionInsideFlash(const UploadRegion& region) {
  return region.address >= kFlashBase && region.address - kFlashBase <= kFlashSize &&
         region.size <= kFlashSize - (region.address - kFlashBase);
}

std::span<const uint8_t> BytesSpan(const FILE_DOWNLOAD_HEADER_T& header) {
  return {BytesOf(header), size_t(kHeaderSize)};
}
std::span<const uint8_t> BytesSpan(const FILE_PARTITION_HEADER_T& descriptor) {
  return {BytesOf(descriptor), size_t(kDescriptorSize)};
}

}  // namespace

SessionEnd BoxSession::RunUpload() {
  if (auto end = AtStep(FaultStep::kStart)) return *end;
  if (auto end = SendHeader()) return *end;
  std::vector<UploadRegion> regions;
  if (auto end = ReceiveRequest(regions)) return *end;
  for (size_t i = 0; i < regions.size(); ++i) {
    UploadRegion region = regions[i];
    if (int(i) + 1 == faults_.shortRegion) region.size /= 2;
    if (auto end = SendRegion(region)) return *end;
  }
  Record([](BoxStats& stats) { ++stats.uploadsDone; });
  summary_ = "upload: regions sent " + std::to_string(regions.size()) + ", frames sent " +
             std::to_string(framesOut_);
  return SessionEnd::kDone;
}

BoxSession::Step BoxSession::SendHeader() {
  FILE_DOWNLOAD_HEADER_T header = BuildBoxHeader(options_.identity);
  if (faults_.badHeaderCrc) header.crc[0] ^= 0x5A;
  if (auto end = AtStep(FaultStep::kHeader)) return end;
  if (auto end = SendUntilAcked(BytesSpan(header), BytesSpan(header), "header", false)) {
    return end;
  }
  // The PC acknowledges the block first and gives its verdict on it right after.
  std::vector<uint8_t> verdict;
  const Receipt receipt = link_.Receive(kCommandFrameSize, kPcSilence, verdict);
  if (receipt != Receipt::kOk) return Unanswered(receipt, "header with its verdict");
  ReceivedFromPc(FaultStep::kVerdict, verdict);
  if (auto end = AtStep(FaultStep::kVerdict)) return end;
  if (verdict[0] != STX || verdict[1] != kCodeIdent) return Abandon("no verdict from the PC");
  if (verdict[2] == 0) {
    summary_ = "upload refused by the PC";
    return SessionEnd::kRefused;
  }
  return std::nullopt;
}

BoxSession::Step BoxSession::ReceiveRequest(std::vector<UploadRegion>& regions) {
  for (;;) {
    std::vector<uint8_t> request;
    if (auto end = ReceiveWhole(kReadRequestSize, FaultStep::kRequest, "read request", request))
      return end;
    if (auto end = AtStep(FaultStep::kRequest)) return end;
    auto parsed = ParseReadRequest(request.data());
    // A region outside the flash cannot be answered: the request is as good as damaged.
    if (!parsed || !std::all_of(parsed->begin(), parsed->end(), RegionInsideFlash)) {
      Nak();
      continue;
    }
    if (faults_.backToBack == FaultStep::kDescriptor) {
      ackOwed_ = true;  // goes out with the first descriptor
    } else if (!Ack()) {
      continue;
    }
    Record([](BoxStats& stats) { ++stats.readRequests; });
    regions = std::move(*parsed);
    return std::nullopt;
  }
}

BoxSession::Step BoxSession::SendRegion(const UploadRegion& region) {
  std::vector<uint8_t> contents;
  {
    std::lock_guard lock(shared_.mutex);
    const auto from = shared_.flash.begin() + (region.address - kFlashBase);
    contents.assign(from, from + region.size);
  }
  const std::vector<uint8_t> compressed = LzoCompress(contents);
  if (compressed.empty() && !contents.empty()) return Abandon("compression failed");

  const FILE_PARTITION_HEADER_T descriptor =
      MakeDescriptor(region.flag, region.address, contents, compressed);
  FILE_PARTITION_HEADER_T firstDescriptor = descriptor;
  int badSends = 1;
  if (++descriptorsOut_ == faults_.badDescriptorCrc) {
    firstDescriptor.crc[0] ^= 0x5A;
    badSends = faults_.badDescriptorCrcTimes;
  }
  if (auto end = AtStep(FaultStep::kDescriptor)) return end;
  std::vector<uint8_t> lead;
  if (ackOwed_) {
    ackOwed_ = false;
    lead.push_back(ACK);
    Record([](BoxStats& stats) { ++stats.acksSent; });
  }
  if (auto end = SendUntilAcked(BytesSpan(firstDescriptor), BytesSpan(descriptor), "descriptor",
                                false, options_.prepareTime, lead, badSends)) {
    return end;
  }

  std::vector<uint8_t> block;
  AppendDataBlock(block, compressed);
  if (auto end = AtStep(FaultStep::kFrame)) return end;
  // Frames of 1020 payload bytes; the last carries the rest, so a block of a multiple of 1020
  // bytes needs no empty frame at the end (the PC counts the bytes it still expects).
  for (size_t offset = 0; offset < block.size();) {
    const size_t payload = std::min<size_t>(block.size() - offset, kFramePayloadMax);
    const DataFrame frame =
        BuildDataFrame(nextFrameNumber_, std::span(block).subspan(offset, payload));
    DataFrame first = frame;
    ++framesOut_;
    int badFrameSends = 1;
    if (framesOut_ == faults_.corruptFrame) {
      first[kFramePayloadAt] ^= 0xFF;
      badFrameSends = faults_.corruptFrameTimes;
    }
    if (framesOut_ == faults_.badComplementFrame) first[2] = first[1];
    if (auto end = SendUntilAcked(first, frame, "data frame", true, {}, {}, badFrameSends)) {
      return end;
    }
    if (framesOut_ == faults_.resendAckedFrame) {
      // As if the ACK had been lost on the line: the same frame once more, whatever the answer.
      if (auto end = SendAfter({}, frame)) return end;
      Record([](BoxStats& stats) {
        ++stats.framesSent;
        ++stats.framesResent;
      });
      Reply ignored;
      if (auto end = AwaitReply(ignored, "data frame")) return end;
    }
    ++nextFrameNumber_;
    offset += payload;
  }
  return std::nullopt;
}

BoxSession::Step BoxSession::SendUntilAcked(std::span<const uint8_t> first,
                                            std::span<const uint8_t> again, const char* what,
                                            bool isFrame, std::chrono::milliseconds work,
                                            std::span<const uint8_t> lead, int firstSends) {
  for (int naks = 0;;) {
    const std::span<const uint8_t> message = naks < firstSends ? first : again;
    std::vector<uint8_t> bytes;
    if (naks == 0) bytes.assign(lead.begin(), lead.end());
    bytes.insert(bytes.end(), message.begin(), message.end());
    if (auto end = SendAfter(naks == 0 ? work : std::chrono::milliseconds{}, bytes)) return end;
    if (isFrame) {
      Record([&](BoxStats& stats) {
        ++stats.framesSent;
        if (naks > 0) ++stats.framesResent;
      });
    }
    Reply reply;
    if (auto end = AwaitReply(reply, what)) return end;
    if (reply == Reply::kAck) return std::nullopt;
    if (reply == Reply::kRefused) {
      summary_ = "upload refused by the PC";
      return SessionEnd::kRefused;
    }
    if (++naks >= kMaxNaksInRow) return Abandon(std::string("ten NAKs in a row for the ") + what);
  }
}

BoxSession::Step BoxSession::AwaitReply(Reply& reply, const char* what) {
  for (;;) {
    std::vector<uint8_t> byte;
    const Receipt receipt = link_.Receive(1, kPcSilence, byte);
    if (receipt != Receipt::kOk) return Unanswered(receipt, what);
    ReceivedFromPc(FaultStep::kAnswer, byte);
    if (byte[0] == ACK || byte[0] == NAK) {
      reply = byte[0] == ACK ? Reply::kAck : Reply::kNak;
      return std::nullopt;
    }
    if (byte[0] != STX) continue;  // noise on the line
    // A PC that gave up waiting for the header tells the box it refuses it.
    std::vector<uint8_t> rest;
    if (link_.Receive(kCommandFrameSize - 1, std::chrono::seconds(1), rest) == Receipt::kOk &&
        rest[0] == kCodeIdent && rest[1] == 0) {
      reply = Reply::kRefused;
      return std::nullopt;
    }
  }
}

}  // namespace vn

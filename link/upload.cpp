#include "link/upload.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "dld/byte_order.h"
#include "dld/file_at.h"
#include "dld/header_file.h"
#include "dld/region_sets.h"
#include "link/framing.h"
#include "link/status_texts.h"
#include "link/upload_output.h"
#include "platform/file_kind.h"

namespace vn {
namespace {

// The box may resend a frame whose ACK it missed; the PC cannot tell from the frame alone, and a
// duplicated frame would make a corrupt backup. So the block written must be a sound data block
// whose CRC is the one the descriptor announced.
bool StoredBlockIsSound(std::FILE* file, int64_t position,
                        const FILE_PARTITION_HEADER_T& descriptor) {
  std::vector<uint8_t> block(size_t(GetLe24(descriptor.compressedLength)) + kDataBlockOverhead);
  return ReadFileAt(file, position, block.data(), block.size()) &&
         CompareDataBlock(descriptor, block).Agrees();
}

}  // namespace

bool StoreBoxHeader(TransferContext& context, std::FILE* file, const RegionSet& set,
                    Failure& writeFailure) {
  FILE_DOWNLOAD_HEADER_T header{};
  if (!ReceiveHeaderBlock(context.port, BytesOf(header))) return false;
  header.partitionKind = set.kindCode;
  header.partitionCount = uint8_t(context.partitionCount);
  std::memset(header.totalSize, 0, sizeof header.totalSize);
  SealHeader(header);
  if (WriteFileAt(file, 0, BytesOf(header), kHeaderSize)) return true;
  writeFailure = FailureOfErrno(errno);
  return false;
}

bool ReceivePartitions(TransferContext& context, std::FILE* file, const RegionSet& set) {
  if (!SendReadRequest(context.port, set.regions)) return false;
  const int count = context.partitionCount;
  int64_t position = kHeaderSize;
  int64_t done = 0;
  int failures = 0;
  const FrameDone onFrame = [&](int32_t payload) {
    done += payload;
    ShowBytes(context, done, 0);
  };
  for (int part = 1; part <= count && failures < kMaxFailuresInRow;) {
    // An upload cut short by a stop or a vanished port is no backup.
    if (!context.port.PortOpened()) return false;
    FILE_PARTITION_HEADER_T descriptor{};
    if (!ReceiveDescriptor(context.port, BytesOf(descriptor))) {
      ++failures;
      SendNak(context.port);
      continue;
    }
    failures = 0;
    SendAck(context.port);

    const uint32_t compressed = GetLe24(descriptor.compressedLength);
    descriptor.pieceCount = PieceCountOf(compressed);
    SealDescriptor(descriptor);
    if (!WriteFileAt(file, position, BytesOf(descriptor), kDescriptorSize)) return false;
    const int64_t blockAt = position + kDescriptorSize;
    done += kDescriptorSize;

    context.progress.ProgressStep(count, 1);
    ShowPercent(context, Phase::kTransfer, part, count);

    int64_t blockPosition = blockAt;
    const int32_t blockSize = int32_t(compressed) + kDataBlockOverhead;
    if (!ReceiveSection(context.port, file, blockPosition, blockSize, failures, onFrame)) {
      return false;
    }
    if (!StoredBlockIsSound(file, blockAt, descriptor)) return false;
    position = blockAt + blockSize;
    ++part;
  }
  return failures < kMaxFailuresInRow && context.port.PortOpened();
}

namespace {

// A failed upload keeps what arrived, if anything did, and says where it is.
void KeepPartialFile(TransferContext& context, const std::string& partial, bool anythingStored) {
  if (!anythingStored) {
    std::remove(partial.c_str());
    return;
  }
  ReadDownloadHeader(partial, context.header);
  context.observer.OnDetail("the data received so far is in " + partial);
}

// The reason of a write that failed, read right after the failing call returned: nothing that
// touches errno runs between the file write and the return of the framing calls.
void ReportWriteError(TransferContext& context, const std::string& partial, int osError) {
  context.observer.OnDetail(FileErrorText(FailureOfErrno(osError, "cannot write", partial)));
}

void ReportWriteError(TransferContext& context, const std::string& partial, Failure failure) {
  failure.action = "cannot write";
  failure.subject = partial;
  context.observer.OnDetail(FileErrorText(failure));
}

}  // namespace

bool UploadFromBox(TransferContext& context, const std::string& fileName, const RegionSet& set) {
  context.observer.OnEvent(StatusEvent("", EventKind::kBusy));
  ShowMessage(context, kMsgConnectSuccess);
  // Nothing is asked of the box until there is somewhere to put what it sends. The target itself
  // is replaced only once the backup is complete, and never when it could not be written itself
  // (a folder, a backup made read-only): the whole transfer would be for nothing.
  Failure targetFailure;
  if (!CanCreateUploadFile(fileName, targetFailure)) {
    context.observer.OnDetail(FileErrorText(targetFailure));
    context.observer.OnEvent(StatusEvent(kNoUploadFileText, EventKind::kFailure));
    return false;
  }
  const UploadNames names = UploadNamesOf(fileName);
  const std::string& partial = names.partial;
  UniqueFile output = CreatePartialFile(names);
  if (!output) {
    context.observer.OnDetail(FileErrorText(FailureOfErrno(errno, "cannot create", partial)));
    context.observer.OnEvent(StatusEvent(kNoUploadFileText, EventKind::kFailure));
    return false;
  }
  std::FILE* file = output.get();
  SendCommand(context.port, kMsgStartUpload);

  ShowMessage(context, kMsgVerify);
  Failure writeFailure;
  if (!StoreBoxHeader(context, file, set, writeFailure)) {
    const bool writeFailed = writeFailure.Failed();
    if (writeFailed) ReportWriteError(context, partial, writeFailure);
    // The box hears a refusal either way; a disk that cannot take the header is no identity fault.
    ShowMessage(context, writeFailed ? kMsgTransferFailed : kMsgIdentFailed);
    SendCommand(context.port, kMsgIdentFailed);
    output.reset();
    KeepPartialFile(context, partial, false);
    return false;
  }
  ShowMessage(context, kMsgIdentSuccess);
  SendCommand(context.port, kMsgIdentSuccess);

  ShowMessage(context, kMsgTransfer);
  const bool received = ReceivePartitions(context, file, set);
  if (!received && std::ferror(file)) ReportWriteError(context, partial, errno);
  ShowMessage(context, received ? kMsgTransferSuccess : kMsgTransferFailed);
  if (!received) {
    output.reset();
    KeepPartialFile(context, partial, true);
    return false;
  }
  // Sealed and committed through the file still open: whatever has been put under its name
  // since is never written, and never moved over FILE.
  Failure sealFailure;
  Failure commitFailure;
  ReadFileAt(file, 0, BytesOf(context.header), sizeof context.header);  // the header as stored
  const bool sealed = WriteTotalSize(file, partial, context.header, sealFailure);
  const bool committed = sealed && CommitPartialFile(file, names, commitFailure);
  output.reset();  // synced to the disk already when committed
  if (committed) return true;
  if (!sealed) {
    // A file without its total size is no finished backup.
    if (sealFailure.systemCode != 0) {
      context.observer.OnErrorBox("I/O error " + std::to_string(sealFailure.systemCode));
    }
  } else {
    context.observer.OnDetail(FileErrorText(commitFailure));
  }
  ShowMessage(context, kMsgTransferFailed);
  KeepPartialFile(context, partial, true);
  return false;
}

}  // namespace vn

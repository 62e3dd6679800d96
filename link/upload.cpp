#include "link/upload.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "dld/byte_order.h"
#include "dld/file_at.h"
#include "dld/header_file.h"
#include "dld/region_sets.h"
#include "link/framing.h"
#include "link/region_receive.h"
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

namespace {

// Writes each region into the upload file after the header: the descriptor with its piece count
// and CRC made right, then the block as the box sent it.
class FileRegions : public RegionReceiver {
 public:
  explicit FileRegions(std::FILE* file) : file_(file) {}

  bool TakeDescriptor(FILE_PARTITION_HEADER_T& descriptor) override {
    descriptor.pieceCount = PieceCountOf(GetLe24(descriptor.compressedLength));
    SealDescriptor(descriptor);
    if (!WriteFileAt(file_, position_, BytesOf(descriptor), kDescriptorSize)) return false;
    position_ += kDescriptorSize;
    blockAt_ = position_;
    return true;
  }
  bool TakePayload(std::span<const uint8_t> payload) override {
    if (!WriteFileAt(file_, position_, payload.data(), payload.size())) return false;
    position_ += int64_t(payload.size());
    return true;
  }
  bool TakeBlock(const FILE_PARTITION_HEADER_T& descriptor) override {
    return StoredBlockIsSound(file_, blockAt_, descriptor);
  }

 private:
  std::FILE* file_;
  int64_t position_ = kHeaderSize;
  int64_t blockAt_ = kHeaderSize;
};

}  // namespace

bool ReceivePartitions(TransferContext& context, std::FILE* file, const RegionSet& set,
                       RegionReceiver* alsoTo) {
  FileRegions regions(file);
  if (!alsoTo) return ReceiveRegions(context, set.regions, regions);
  BothReceivers both(regions, *alsoTo);
  return ReceiveRegions(context, set.regions, both);
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

// An output that could not be written ends the box; the failure, with the system's words, goes
// with the box's outcome.
void NoteOutputFailure(TransferContext& context, Failure failure) {
  context.port.Tally().NoteFault(BoxFailureKind::kOutputUnwritable, std::move(failure));
}

// The reason of a write that failed, read right after the failing call returned: nothing that
// touches errno runs between the file write and the return of the framing calls.
void ReportWriteError(TransferContext& context, const std::string& partial, int osError) {
  NoteOutputFailure(context, FailureOfErrno(osError, "cannot write", partial));
}

void ReportWriteError(TransferContext& context, const std::string& partial, Failure failure) {
  failure.action = "cannot write";
  failure.subject = partial;
  NoteOutputFailure(context, std::move(failure));
}

}  // namespace

bool UploadFromBox(TransferContext& context, const std::string& fileName, const RegionSet& set,
                   RegionReceiver* alsoTo) {
  context.observer.OnEvent(StatusEvent("", EventKind::kBusy));
  ShowMessage(context, kMsgConnectSuccess);
  // Nothing is asked of the box until there is somewhere to put what it sends. The target itself
  // is replaced only once the backup is complete, and never when it could not be written itself
  // (a folder, a backup made read-only): the whole transfer would be for nothing.
  Failure targetFailure;
  if (!CanCreateUploadFile(fileName, targetFailure)) {
    NoteOutputFailure(context, targetFailure);
    context.observer.OnEvent(StatusEvent(kNoUploadFileText, EventKind::kFailure));
    return false;
  }
  const UploadNames names = UploadNamesOf(fileName);
  const std::string& partial = names.partial;
  UniqueFile output = CreatePartialFile(names);
  if (!output) {
    NoteOutputFailure(context, FailureOfErrno(errno, "cannot create", partial));
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
  const bool received = ReceivePartitions(context, file, set, alsoTo);
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
    if (sealFailure.kind == FailureKind::kDamaged) {
      // The header the box sent does not hold what a header must.
      context.port.Tally().NoteFault(BoxFailureKind::kDamagedData, sealFailure);
    } else {
      sealFailure.action = "cannot write";
      sealFailure.subject = partial;
      NoteOutputFailure(context, sealFailure);
    }
  } else {
    NoteOutputFailure(context, commitFailure);
  }
  ShowMessage(context, kMsgTransferFailed);
  KeepPartialFile(context, partial, true);
  return false;
}

}  // namespace vn

#pragma once
// Asking a box who it is: the upload's start command brings the box's own header, and the PC
// then refuses it (the identity step's "refused"), so that the box reads and writes nothing and
// goes back to announcing itself. The box's header becomes the run's current header. With a
// file's header given, the task also says whether the box would take that file, judged field by
// field as the box judges a download.
#include <optional>
#include <string>
#include <vector>

#include "dld/blocks.h"
#include "link/box_task.h"

namespace vn {

inline constexpr const char* kIdentifySuccessText = "Identify Success!";
inline constexpr const char* kIdentityMismatchText = "The box would refuse this file!";

// The upload's opening, for whatever asks a box for its header: the transfer begins, the start
// command goes out and the box's header is awaited ("Verify..."). False when no sound header
// came; the verdict is the caller's to send.
bool AskForBoxHeader(TransferContext& context, FILE_DOWNLOAD_HEADER_T& header);

// The header's fields as "label: value" lines, in the header's order.
std::vector<std::string> HeaderFieldLines(const FILE_DOWNLOAD_HEADER_T& header);

class IdentifyTask : public BoxTask {
 public:
  // `file`: the header of a file to judge against each box; nullopt: none.
  explicit IdentifyTask(std::optional<FILE_DOWNLOAD_HEADER_T> file) : file_(file) {}

  int PartitionCount() const override { return 0; }
  bool Run(TransferContext& context) override;
  LinkEvent DoneEvent() const override;

 private:
  const std::optional<FILE_DOWNLOAD_HEADER_T> file_;
};

}  // namespace vn

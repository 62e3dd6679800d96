#include "link/transfer_context.h"

namespace vn {

void ShowMessage(TransferContext& context, int index) {
  if (const char* text = LinkMessageText(index)) context.observer.OnStatus(text);
}

std::string PercentText(const char* prefix, int part, int count) {
  const int percent = count > 0 ? part * 100 / count : 0;
  return std::string(prefix) + std::to_string(percent) + "%";
}

}  // namespace vn

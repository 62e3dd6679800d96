#include "cli/console_observer.h"

#include <array>
#include <cstdlib>

#include "link/transfer_context.h"

namespace vn {
namespace {

constexpr std::array<const char*, 3> kPercentPrefixes = {
    kTransferPercentPrefix, kErasePercentPrefix, kProgramPercentPrefix};

// The prefix of a percentage text, or nullptr for any other status.
const char* PercentPrefixOf(const std::string& text) {
  for (const char* prefix : kPercentPrefixes) {
    const std::string p(prefix);
    if (text.size() > p.size() && text.compare(0, p.size(), p) == 0 && text.back() == '%') {
      return prefix;
    }
  }
  return nullptr;
}

std::string HumanBytes(int64_t bytes) {
  char buffer[32];
  if (bytes >= 1024 * 1024) {
    std::snprintf(buffer, sizeof buffer, "%.1f MiB", double(bytes) / (1024.0 * 1024.0));
  } else {
    std::snprintf(buffer, sizeof buffer, "%.1f KiB", double(bytes) / 1024.0);
  }
  return buffer;
}

}  // namespace

ConsoleObserver::ConsoleObserver(std::FILE* out, bool interactive)
    : out_(out), interactive_(interactive) {}

ConsoleObserver::~ConsoleObserver() {
  EndProgressLine();
}

void ConsoleObserver::OnStatus(const std::string& text) {
  last_ = text;
  if (text.empty()) return;
  const char* prefix = interactive_ ? PercentPrefixOf(text) : nullptr;
  if (!prefix) {
    EndProgressLine();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
    return;
  }
  if (phase_ != prefix) {
    EndProgressLine();
    phase_ = prefix;
    phaseStart_ = std::chrono::steady_clock::now();
  }
  percent_ = std::atoi(text.c_str() + phase_.size());
  DrawProgressLine();
}

void ConsoleObserver::OnBytes(int64_t done, int64_t total) {
  bytesDone_ = done;
  bytesTotal_ = total;
  if (progressShown_) DrawProgressLine();
}

void ConsoleObserver::OnErrorBox(const std::string& text) {
  EndProgressLine();
  std::fprintf(stderr, "%s\n", text.c_str());
}

void ConsoleObserver::OnDetail(const std::string& text) {
  EndProgressLine();
  std::fprintf(stderr, "vespanode-cli: %s\n", text.c_str());
}

void ConsoleObserver::DrawProgressLine() {
  constexpr int kWidth = 24;
  const int filled = percent_ * kWidth / 100;
  std::string bar(size_t(filled), '#');
  bar.resize(kWidth, '.');
  std::string detail;
  if (phase_ == kTransferPercentPrefix && bytesDone_ > 0) {
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - phaseStart_).count();
    const double rate = seconds > 0 ? double(bytesDone_) / seconds : 0;
    detail = "  " + HumanBytes(bytesDone_);
    if (bytesTotal_ > 0) detail += " of " + HumanBytes(bytesTotal_);
    if (rate > 0) {
      char buffer[64];
      std::snprintf(buffer, sizeof buffer, "  %.1f KiB/s", rate / 1024.0);
      detail += buffer;
      if (bytesTotal_ > bytesDone_) {
        std::snprintf(buffer, sizeof buffer, "  %.0f s left",
                      double(bytesTotal_ - bytesDone_) / rate);
        detail += buffer;
      }
    }
  }
  std::string phase = phase_;
  while (!phase.empty() && phase.back() == ' ') phase.pop_back();
  std::fprintf(out_, "\r\033[K%s [%s] %3d%%%s", phase.c_str(), bar.c_str(), percent_,
               detail.c_str());
  std::fflush(out_);
  progressShown_ = true;
}

void ConsoleObserver::EndProgressLine() {
  if (!progressShown_) return;
  std::fprintf(out_, "\n");
  std::fflush(out_);
  progressShown_ = false;
  phase_.clear();
}

}  // namespace vn

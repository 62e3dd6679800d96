#include "cli/console_observer.h"

namespace vn {
namespace {

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

void ConsoleObserver::OnEvent(const LinkEvent& event) {
  if (event.kind == EventKind::kBytes) {
    bytesDone_ = event.bytesDone;
    bytesTotal_ = event.bytesTotal;
    if (progressShown_) DrawProgressLine();
    return;
  }
  if (!event.HasStatusText()) return;
  last_ = event.text;
  if (event.kind == EventKind::kPercent && interactive_) {
    ShowPercent(event);
    return;
  }
  if (event.text.empty()) return;
  EndProgressLine();
  std::fprintf(out_, "%s\n", event.text.c_str());
  std::fflush(out_);
}

void ConsoleObserver::ShowPercent(const LinkEvent& event) {
  if (!progressShown_ || phase_ != event.phase) {
    EndProgressLine();
    phase_ = event.phase;
    phaseStart_ = std::chrono::steady_clock::now();
  }
  percent_ = event.count > 0 ? event.part * 100 / event.count : 0;
  DrawProgressLine();
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
  if (phase_ == Phase::kTransfer && bytesDone_ > 0) {
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
  std::string phase = PercentPrefix(phase_);
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
  phase_ = Phase::kNone;
}

}  // namespace vn

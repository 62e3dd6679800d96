#include "cli/line_output.h"

#include "cli/standard_output.h"
#include "platform/console.h"

namespace vn {
namespace {

constexpr std::chrono::milliseconds kRedrawEvery{100};

}  // namespace

LineOutput::LineOutput(std::FILE* out, std::FILE* errors, OutputMode mode, int rows, int columns)
    : out_(out), errors_(errors), mode_(mode), columns_(columns), rows_(size_t(rows)) {}

LineOutput::~LineOutput() {
  Finish();
}

void LineOutput::PrintLine(const std::string& text) {
  std::lock_guard lock(mutex_);
  EraseBoard();
  std::fprintf(out_, "%s\n", text.c_str());
  DrawBoard();
}

void LineOutput::PrintLine(const std::string& text, int row, std::string rowText) {
  std::lock_guard lock(mutex_);
  if (mode_ == OutputMode::kTerminal && row >= 0 && row < int(rows_.size())) {
    rows_[size_t(row)] = std::move(rowText);
  }
  EraseBoard();
  std::fprintf(out_, "%s\n", text.c_str());
  DrawBoard();
}

void LineOutput::PrintError(const std::string& text) {
  std::lock_guard lock(mutex_);
  EraseBoard();
  if (errors_ == stderr) {
    // Standard error that nobody reads must not hold the board's lock, and with it every
    // station, past a stop.
    WriteStandardError(text + "\n");
  } else {
    std::fprintf(errors_, "%s\n", text.c_str());
    std::fflush(errors_);
  }
  DrawBoard();
}

void LineOutput::SetRow(int row, std::string text, bool now) {
  if (mode_ != OutputMode::kTerminal || row < 0 || row >= int(rows_.size())) return;
  std::lock_guard lock(mutex_);
  rows_[size_t(row)] = std::move(text);
  if (!now && std::chrono::steady_clock::now() - lastDraw_ < kRedrawEvery) {
    pending_ = true;
    return;
  }
  EraseBoard();
  DrawBoard();
}

void LineOutput::Finish() {
  std::lock_guard lock(mutex_);
  if (!pending_) return;
  EraseBoard();
  DrawBoard();
}

void LineOutput::TakeDownBoard() {
  std::lock_guard lock(mutex_);
  EraseBoard();
  for (std::string& row : rows_) row.clear();
  pending_ = false;
  FlushOutput(out_);
}

void LineOutput::EraseBoard() {
  if (shown_ == 0) return;
  // Up to the board's first line, then clear everything below.
  std::fprintf(out_, "\033[%dA\r\033[J", shown_);
  shown_ = 0;
}

void LineOutput::DrawBoard() {
  for (const std::string& row : rows_) {
    if (row.empty()) continue;
    std::fprintf(out_, "%s\n", Fit(row).c_str());
    ++shown_;
  }
  FlushOutput(out_);
  pending_ = false;
  lastDraw_ = std::chrono::steady_clock::now();
}

// A row longer than the terminal is wide would wrap, and the board would no longer be where the
// cursor movements expect it: the row is cut to one column less than the width.
std::string LineOutput::Fit(const std::string& text) const {
  if (columns_ <= 1 || int(text.size()) < columns_) return text;
  return text.substr(0, size_t(columns_ - 1));
}

}  // namespace vn

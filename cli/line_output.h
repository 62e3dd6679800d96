#pragma once
// Where every port's reports go. The stations' threads share it; one lock keeps each line whole.
// Plain output is one line per status text. On a terminal, a board of progress rows (one per
// port) stays under those lines and is redrawn in place, each row cut to the terminal's width.
// JSON output is one object per line and nothing else.
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vn {

enum class OutputMode { kPlain, kTerminal, kJson };

class LineOutput {
 public:
  // `rows`: one per port; `columns`: the terminal's width (0: unknown).
  LineOutput(std::FILE* out, std::FILE* errors, OutputMode mode, int rows, int columns);
  ~LineOutput();
  LineOutput(const LineOutput&) = delete;
  LineOutput& operator=(const LineOutput&) = delete;

  OutputMode Mode() const { return mode_; }
  int Columns() const { return columns_; }

  // A line of standard output, above the board.
  void PrintLine(const std::string& text);
  // The same, with row `row` showing `rowText` from then on: the board is drawn once.
  void PrintLine(const std::string& text, int row, std::string rowText);
  // A line of standard error, above the board.
  void PrintError(const std::string& text);
  // Row `row` of the board shows `text`; an empty text takes the row off the board. Redrawn at
  // most ten times a second unless `now` is set.
  void SetRow(int row, std::string text, bool now);
  // Draws what is pending; the board stays where it is, and later lines go below it.
  void Finish();
  // Clears the board off the screen for good: the lines that follow sum it up.
  void TakeDownBoard();

 private:
  void EraseBoard();
  void DrawBoard();
  std::string Fit(const std::string& text) const;

  std::mutex mutex_;
  std::FILE* out_;
  std::FILE* errors_;
  OutputMode mode_;
  int columns_;
  std::vector<std::string> rows_;
  int shown_ = 0;  // board lines on the screen, the cursor on the line below them
  bool pending_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace vn

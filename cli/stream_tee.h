#pragma once
// Where the objects of the `--json` stream go besides standard output: the line page's server.
// Take is called on the stations' worker threads and must return at once.
#include <string>

namespace vn {

class StreamTee {
 public:
  virtual ~StreamTee() = default;
  // One object of the stream as one line of JSON, without its newline.
  virtual void Take(const std::string& line) = 0;
};

}  // namespace vn

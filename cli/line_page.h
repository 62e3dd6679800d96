#pragma once
// `--http [ADDR:]PORT`: the line page for a production line's run. Opened before the first box
// (a port in use is refused then), fed what `--json` writes, closed with the run. Opened to the
// network (0.0.0.0, [::]), it says so once on standard error.
#include <memory>
#include <string>

#include "cli/production_line.h"
#include "cli/stream_tee.h"

namespace vn {

class LinePage : public StreamTee {
 public:
  // Null with `problem` when the page cannot be served: a bad address, a port in use, or a
  // build without it (Windows).
  static std::unique_ptr<LinePage> Open(const LineRequest& request, const std::string& fileSha256,
                                        std::string& problem);
  // The page's address, for the one line on standard error.
  virtual std::string Url() const = 0;
  // Waits until everything the stations said is on the page.
  virtual void Flush() = 0;
};

// The check of --http's value on the command line: empty when it is an address to serve on.
std::string HttpAddressProblem(const std::string& text);
// The check of a --http-host value: empty when it is a name or address without a port.
std::string HttpHostProblem(const std::string& text);

}  // namespace vn

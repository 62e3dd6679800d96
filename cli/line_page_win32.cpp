#include "cli/line_page.h"

namespace vn {

std::string HttpAddressProblem(const std::string&) {
  return {};
}

std::string HttpHostProblem(const std::string&) {
  return {};
}

std::unique_ptr<LinePage> LinePage::Open(const LineRequest&, const std::string&,
                                         std::string& problem) {
  problem = "--http: this Windows build has no line page; serve it from a Linux station PC";
  return nullptr;
}

}  // namespace vn

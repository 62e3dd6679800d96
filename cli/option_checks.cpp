#include "cli/option_checks.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "cli/line_page.h"

namespace vn {

CLI::Validator NonEmptyName() {
  return CLI::Validator(
      [](std::string& text) { return text.empty() ? std::string("must not be empty") : ""; }, "",
      "NonEmptyName");
}

CLI::Validator LineFileName(bool dashIsStandardError) {
  return CLI::Validator(
      [dashIsStandardError](std::string& text) -> std::string {
        if (text.empty()) return "must not be empty";
        if (text == "-") {
          if (dashIsStandardError) return "";
          return "- is no file: name the file (./- for one called -)";
        }
        if (text.starts_with("-")) {
          return text + " reads as an option: name the file (./" + text + " for one called so)";
        }
        return "";
      },
      "", "LineFileName");
}

CLI::Validator SecondsFromTo(double low, double high) {
  char description[64];
  std::snprintf(description, sizeof description, "SECONDS in [%g - %g]", low, high);
  return CLI::Validator(
      [low, high, description = std::string(description)](std::string& text) {
        double value = 0;
        const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
        const bool whole = status == std::errc{} && end == text.data() + text.size();
        if (whole && std::isfinite(value) && value >= low && value <= high) return std::string();
        return "needs " + description;
      },
      description, "SecondsFromTo");
}

CLI::Validator BoxCount() {
  return CLI::Validator(
      [](std::string& text) {
        int value = 0;
        const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (status != std::errc{} || end != text.data() + text.size() || value < 0) {
          return std::string("needs a whole number of boxes, 0 or more (0: until interrupted)");
        }
        return std::string();
      },
      "N", "BoxCount");
}

CLI::Validator HttpAddress() {
  return CLI::Validator([](std::string& text) { return HttpAddressProblem(text); }, "[ADDR:]PORT",
                        "HttpAddress");
}

CLI::Validator HttpHostName() {
  return CLI::Validator([](std::string& text) { return HttpHostProblem(text); }, "NAME",
                        "HttpHostName");
}

}  // namespace vn

#include "records/record_line_scan.h"

#include <charconv>

namespace vn {
namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipSpace() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    SkipSpace();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  char Peek() {
    SkipSpace();
    return at_ < text_.size() ? text_[at_] : '\0';
  }
  // A string without escapes, the opening quote not yet taken.
  bool PlainString(std::string_view& value) {
    if (!Take('"')) return false;
    const size_t end = text_.find('"', at_);
    if (end == std::string_view::npos) return false;
    value = text_.substr(at_, end - at_);
    if (value.find('\\') != std::string_view::npos) return false;
    at_ = end + 1;
    return true;
  }
  bool SkipString() {
    if (!Take('"')) return false;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '\\') {
        ++at_;
      } else if (c == '"') {
        return true;
      }
    }
    return false;
  }
  // Any value: a string, an object or array (strings in it included), or a scalar.
  bool SkipValue() {
    const char first = Peek();
    if (first == '"') return SkipString();
    if (first == '{' || first == '[') {
      int depth = 0;
      while (at_ < text_.size()) {
        const char c = text_[at_];
        if (c == '"') {
          if (!SkipString()) return false;
          continue;
        }
        ++at_;
        if (c == '{' || c == '[') ++depth;
        if ((c == '}' || c == ']') && --depth == 0) return true;
      }
      return false;
    }
    const size_t start = at_;
    while (at_ < text_.size() && text_[at_] != ',' && text_[at_] != '}' && text_[at_] != ' ') {
      ++at_;
    }
    return at_ > start;
  }
  // A number, or null (kNoFigure).
  bool Number(double& value) {
    if (Peek() == 'n') {
      value = kNoFigure;
      return SkipValue();
    }
    const char* begin = text_.data() + at_;
    const auto [end, status] = std::from_chars(begin, text_.data() + text_.size(), value);
    if (status != std::errc{}) return false;
    at_ += size_t(end - begin);
    return true;
  }
  // A string, or null (empty).
  bool Text(std::string& value) {
    if (Peek() == 'n') {
      value.clear();
      return SkipValue();
    }
    std::string_view view;
    if (!PlainString(view)) return false;
    value.assign(view);
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

bool ScanRecordLine(std::string_view line, BoxFacts& facts) {
  Scanner scan(line);
  if (!scan.Take('{')) return false;
  facts = BoxFacts{};
  bool result = false;
  if (scan.Take('}')) return false;
  do {
    std::string_view key;
    if (!scan.PlainString(key) || !scan.Take(':')) return false;
    bool ok = true;
    if (key == "recordId") {
      ok = scan.Text(facts.id);
    } else if (key == "start") {
      ok = scan.Text(facts.start);
    } else if (key == "end") {
      ok = scan.Text(facts.end);
    } else if (key == "host") {
      ok = scan.Text(facts.host);
    } else if (key == "port") {
      ok = scan.Text(facts.port);
    } else if (key == "file") {
      ok = scan.Text(facts.file);
    } else if (key == "sha256") {
      ok = scan.Text(facts.sha256);
    } else if (key == "operation") {
      ok = scan.Text(facts.operation);
    } else if (key == "result") {
      ok = scan.Text(facts.result);
      result = ok;
    } else if (key == "failureKind") {
      ok = scan.Text(facts.failureKind);
    } else if (key == "failure") {
      ok = scan.Text(facts.failure);
    } else if (key == "seconds") {
      ok = scan.Number(facts.seconds);
    } else if (key == "efficiency") {
      ok = scan.Number(facts.efficiency);
    } else {
      ok = scan.SkipValue();
    }
    if (!ok) return false;
  } while (scan.Take(','));
  return scan.Take('}') && scan.Peek() == '\0' && result && !facts.id.empty();
}

}  // namespace vn

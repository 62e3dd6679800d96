#include "records/record_target.h"

#include <algorithm>
#include <cctype>

namespace vn {
namespace {

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower((unsigned char)a) == std::tolower((unsigned char)b);
  });
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// Replaces the value of every `password=` parameter in the query part after `query`.
std::string QueryWithoutPassword(std::string query, bool& had) {
  size_t at = 0;
  while (at < query.size()) {
    const size_t end = std::min(query.find('&', at), query.size());
    if (StartsWithNoCase(query.substr(at, end - at), "password=")) {
      const size_t value = at + 9;
      query.replace(value, end - value, "***");
      had = true;
    }
    at = std::min(query.find('&', at), query.size()) + 1;
  }
  return query;
}

}  // namespace

std::string UrlWithoutPassword(const std::string& url, bool* hadPassword) {
  bool had = false;
  std::string shown = url;
  const size_t scheme = shown.find("://");
  if (scheme != std::string::npos) {
    const size_t authority = scheme + 3;
    const size_t authorityEnd = std::min(shown.find_first_of("/?", authority), shown.size());
    // The last '@' ends the user-info: a password may hold '@' itself, percent-encoded or not.
    const size_t at = shown.rfind('@', authorityEnd);
    if (at != std::string::npos && at >= authority) {
      const size_t colon = shown.find(':', authority);
      if (colon != std::string::npos && colon < at) {
        shown.replace(colon + 1, at - colon - 1, "***");
        had = true;
      }
    }
    const size_t query = shown.find('?', authority);
    if (query != std::string::npos) {
      shown = shown.substr(0, query + 1) + QueryWithoutPassword(shown.substr(query + 1), had);
    }
  }
  if (hadPassword) *hadPassword = had;
  return shown;
}

RecordTarget ParseRecordTarget(const std::string& text) {
  RecordTarget target;
  target.location = text;
  target.shown = text;
  if (StartsWithNoCase(text, "postgresql://") || StartsWithNoCase(text, "postgres://")) {
    target.kind = RecordTargetKind::kPostgres;
    target.shown = UrlWithoutPassword(text, &target.carriesPassword);
  } else if (StartsWithNoCase(text, "sqlite:")) {
    target.kind = RecordTargetKind::kSqlite;
    target.location = text.substr(7);
    target.shown = target.location;
  } else if (EndsWithNoCase(text, ".sqlite") || EndsWithNoCase(text, ".db")) {
    target.kind = RecordTargetKind::kSqlite;
  }
  return target;
}

}  // namespace vn

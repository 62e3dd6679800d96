#include "records/record_target.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace vn {
namespace {

char Lower(char c) {
  return char(std::tolower((unsigned char)c));
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(),
                    [](char a, char b) { return Lower(a) == Lower(b); });
}

bool EndsWithNoCase(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

// %XX escapes decoded as libpq decodes them; a broken one stays as it is.
std::string PercentDecoded(const std::string& text) {
  std::string decoded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && std::isxdigit((unsigned char)text[i + 1]) &&
        std::isxdigit((unsigned char)text[i + 2])) {
      decoded += char(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      decoded += text[i];
    }
  }
  return decoded;
}

struct Authority {
  size_t start = std::string::npos;  // after "://"
  size_t end = std::string::npos;    // at the path, the query or the end
  size_t at = std::string::npos;     // the '@' that ends the user-info, if any
};

Authority AuthorityOf(const std::string& url) {
  Authority authority;
  const size_t scheme = url.find("://");
  if (scheme == std::string::npos) return authority;
  authority.start = scheme + 3;
  authority.end = std::min(url.find_first_of("/?", authority.start), url.size());
  // The last '@' ends the user-info: a password may hold '@' itself, percent-encoded or not.
  const size_t at = url.rfind('@', authority.end);
  if (at != std::string::npos && at >= authority.start) authority.at = at;
  return authority;
}

// Where the URL's passwords are: that of its user-info and the value of every `password=`
// parameter of its query (libpq decodes the names too).
std::vector<std::pair<size_t, size_t>> PasswordRanges(const std::string& url) {
  std::vector<std::pair<size_t, size_t>> ranges;
  const Authority authority = AuthorityOf(url);
  if (authority.start == std::string::npos) return ranges;
  if (authority.at != std::string::npos) {
    const size_t colon = url.find(':', authority.start);
    if (colon < authority.at) ranges.emplace_back(colon + 1, authority.at);
  }
  const size_t query = url.find('?', authority.start);
  for (size_t at = query; at < url.size();) {
    const size_t end = std::min(url.find('&', at + 1), url.size());
    const size_t equals = url.find('=', at + 1);
    if (equals < end) {
      std::string name = PercentDecoded(url.substr(at + 1, equals - at - 1));
      std::transform(name.begin(), name.end(), name.begin(), Lower);
      if (name == "password") ranges.emplace_back(equals + 1, end);
    }
    at = end;
  }
  return ranges;
}

// The URL as libpq reads what the user meant: the scheme in lower case, and an '@' of the
// user-info other than the last (which libpq would take for its end) percent-encoded.
std::string LibpqUrl(const std::string& text) {
  std::string url = text;
  const Authority authority = AuthorityOf(url);
  std::transform(url.begin(), url.begin() + long(authority.start), url.begin(), Lower);
  if (authority.at == std::string::npos) return url;
  std::string userInfo = url.substr(authority.start, authority.at - authority.start);
  for (size_t at = userInfo.find('@'); at != std::string::npos; at = userInfo.find('@', at + 3)) {
    userInfo.replace(at, 1, "%40");
  }
  return url.substr(0, authority.start) + userInfo + url.substr(authority.at);
}

}  // namespace

std::string UrlWithoutPassword(const std::string& url, bool* hadPassword) {
  std::string shown = url;
  const auto ranges = PasswordRanges(url);
  // From the last, so that the places of the others stay.
  for (auto range = ranges.rbegin(); range != ranges.rend(); ++range) {
    shown.replace(range->first, range->second - range->first, "***");
  }
  if (hadPassword) *hadPassword = !ranges.empty();
  return shown;
}

std::string WithoutSecrets(const RecordTarget& target, std::string text) {
  const auto replaceAll = [&text](const std::string& secret, const std::string& instead) {
    if (secret.empty()) return;
    for (size_t at = text.find(secret); at != std::string::npos;
         at = text.find(secret, at + instead.size())) {
      text.replace(at, secret.size(), instead);
    }
  };
  for (const std::string& url : target.urls) replaceAll(url, target.shown);
  for (const std::string& password : target.passwords) replaceAll(password, "***");
  return text;
}

RecordTarget ParseRecordTarget(const std::string& text) {
  RecordTarget target;
  target.location = text;
  target.shown = text;
  if (StartsWithNoCase(text, "postgresql://") || StartsWithNoCase(text, "postgres://")) {
    target.kind = RecordTargetKind::kPostgres;
    target.location = LibpqUrl(text);
    target.shown = UrlWithoutPassword(text, &target.carriesPassword);
    target.urls = {text, target.location};
    for (const std::string& url : target.urls) {
      for (const auto& [start, end] : PasswordRanges(url)) {
        const std::string password = url.substr(start, end - start);
        target.passwords.push_back(password);
        target.passwords.push_back(PercentDecoded(password));
      }
    }
    // The longest first: a password that holds another is masked whole.
    for (auto* list : {&target.urls, &target.passwords}) {
      std::sort(list->begin(), list->end(),
                [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    }
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

// The spool is needed only where records go to a database: POSIX systems, for now.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <span>

#include "platform/append_line.h"
#include "platform/file_digest.h"
#include "platform/processes.h"
#include "records/record_spool.h"

namespace vn {
namespace {

std::string StateHome() {
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') return state;
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : "/tmp") + "/.local/state";
}

// The state folder's own parents are made as XDG asks, closed to others; ones that are there stay
// as they are.
Failure MakeSpoolFolder(const std::string& folder) {
  const std::filesystem::path spool(folder);
  const std::filesystem::path ours = spool.parent_path();
  std::error_code error;
  std::filesystem::path made;
  for (const auto& part : ours.parent_path()) {
    made /= part;
    if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
      return FailureOfErrno(errno, "cannot make the spool folder", made.string());
    }
  }
  Failure failure;
  for (const std::string& step : {ours.string(), spool.string()}) {
    if (!MakePrivateFolder(step, failure)) {
      failure.action = "cannot use the spool folder";
      failure.subject = step;
      return failure;
    }
  }
  return {};
}

std::string SpoolName(const RecordTarget& target) {
  // A relative SQLite path names the same file from anywhere: its absolute form is the key.
  std::string key = target.shown;
  if (target.kind == RecordTargetKind::kSqlite) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(target.location, error);
    if (!error) key = absolute.lexically_normal().string();
  }
  std::string digest;
  Failure unused;
  const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(key.data()), key.size());
  if (!BufferSha256(bytes, digest, unused)) digest = "0000000000000000";
  const char* kind = target.kind == RecordTargetKind::kPostgres ? "postgresql" : "sqlite";
  return std::string(kind) + "-" + digest.substr(0, 16) + ".jsonl";
}

bool ReadAll(int fd, std::string& text) {
  text.clear();
  char chunk[65536];
  for (;;) {
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    text.append(chunk, size_t(n));
  }
}

bool WriteAllAt(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::pwrite(fd, text.data() + done, text.size() - done, off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

std::string SpoolFolder() {
  return StateHome() + "/vespanode/spool";
}

RecordSpool::RecordSpool(const RecordTarget& target)
    : path_(SpoolFolder() + "/" + SpoolName(target)) {}

Failure RecordSpool::Add(const nlohmann::ordered_json& record) {
  if (Failure failure = MakeSpoolFolder(SpoolFolder()); failure.Failed()) return failure;
  Failure failure;
  const std::string line =
      record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  if (AppendWholeLine(path_, line, failure)) return {};
  failure.action = "cannot add to the spool";
  failure.subject = path_;
  return failure;
}

bool RecordSpool::Waiting() const {
  struct stat info;
  return ::lstat(path_.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
}

int RecordSpool::Count() const {
  const int fd = ::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  std::string text;
  const bool read = ReadAll(fd, text);
  ::close(fd);
  int lines = 0;
  for (char c : text) lines += c == '\n' ? 1 : 0;
  return read ? lines : 0;
}

RecordSpool::Replay RecordSpool::Flush(
    const std::function<Failure(const nlohmann::ordered_json&)>& write) {
  Replay replay;
  if (!Waiting()) return replay;
  // The folder is checked as for an append: a spool someone else could have written is not read.
  if (Failure failure; !IsPrivateFolder(SpoolFolder(), failure)) {
    failure.action = "cannot use the spool folder";
    failure.subject = SpoolFolder();
    replay.failure = failure;
    replay.left = Count();
    return replay;
  }
  const int fd = ::open(path_.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    replay.failure = FailureOfErrno(errno, "cannot read the spool", path_);
    return replay;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    replay.busy = true;
    replay.left = Count();
    return replay;
  }
  std::string text;
  if (!ReadAll(fd, text)) {
    replay.failure = FailureOfErrno(errno, "cannot read the spool", path_);
    ::close(fd);
    return replay;
  }
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    if (end == std::string::npos) break;  // not a whole line: kept
    const auto record = nlohmann::ordered_json::parse(text.begin() + long(at),
                                                      text.begin() + long(end), nullptr, false);
    // A line that is no record cannot be written anywhere: it stays for a person to look at.
    if (record.is_discarded()) break;
    if (Failure failure = write(record); failure.Failed()) {
      replay.failure = failure;
      break;
    }
    ++replay.written;
    at = end + 1;
  }
  if (replay.written > 0) {
    // What is left moves to the front; a failed rewrite leaves records that were written in the
    // file, and the database takes each of them only once.
    const std::string rest = text.substr(at);
    if (!WriteAllAt(fd, rest) || ::ftruncate(fd, off_t(rest.size())) != 0) {
      replay.failure = FailureOfErrno(errno, "cannot rewrite the spool", path_);
    }
  }
  for (size_t i = at; i < text.size(); ++i) replay.left += text[i] == '\n' ? 1 : 0;
  ::close(fd);
  return replay;
}

}  // namespace vn

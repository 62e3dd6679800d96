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
  // A relative SQLite path names the same file from anywhere: its absolute form is the key. A URL
  // is the key as libpq reads it (its scheme in any case is one), without its password.
  std::string key = target.kind == RecordTargetKind::kPostgres ? UrlWithoutPassword(target.location)
                                                               : target.shown;
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

// The spool's lines one at a time, read a piece at a time: a spool of a million records is never
// held whole.
class LineReader {
 public:
  explicit LineReader(int fd) : fd_(fd) {}

  // The next whole line, without its newline, and the file's offset after it. False at the end,
  // before a last line without its newline (one being written), and when the file cannot be read
  // (error() is its errno then).
  bool Next(std::string& line, off_t& end) {
    for (;;) {
      const size_t newline = buffer_.find('\n', at_);
      if (newline != std::string::npos) {
        line.assign(buffer_, at_, newline - at_);
        at_ = newline + 1;
        end = start_ + off_t(at_);
        return true;
      }
      if (ended_) return false;
      buffer_.erase(0, at_);
      start_ += off_t(at_);
      at_ = 0;
      char chunk[1 << 16];
      const ssize_t n = ::pread(fd_, chunk, sizeof chunk, start_ + off_t(buffer_.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) error_ = errno;
      if (n <= 0) ended_ = true;
      if (n > 0) buffer_.append(chunk, size_t(n));
    }
  }
  int error() const { return error_; }

 private:
  int fd_;
  std::string buffer_;
  size_t at_ = 0;    // the next line's start in buffer_
  off_t start_ = 0;  // the file's offset of buffer_[0]
  bool ended_ = false;
  int error_ = 0;
};

int CountLines(int fd) {
  LineReader lines(fd);
  std::string line;
  off_t end = 0;
  int count = 0;
  while (lines.Next(line, end)) ++count;
  return count;
}

bool WriteAllAt(int fd, const char* bytes, size_t size, off_t at) {
  size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, bytes + done, size - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

// What follows `from` moves to the front, piece by piece. A failure halfway leaves records that
// were written in the file, and the database takes each of them only once.
bool MoveToFront(int fd, off_t from) {
  char chunk[1 << 16];
  off_t moved = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, from + moved);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (!WriteAllAt(fd, chunk, size_t(n), moved)) return false;
    moved += n;
  }
  return ::ftruncate(fd, moved) == 0;
}

}  // namespace

std::string SpoolFolder() {
  return StateHome() + "/vespanode/spool";
}

RecordSpool::RecordSpool(const RecordTarget& target) {
  const std::string name = SpoolName(target);
  path_ = SpoolFolder() + "/" + name;
  rejectedPath_ = SpoolFolder() + "/" + name.substr(0, name.size() - 6) + ".rejected.jsonl";
}

Failure RecordSpool::Add(const std::vector<nlohmann::ordered_json>& records) {
  if (records.empty()) return {};
  if (Failure failure = MakeSpoolFolder(SpoolFolder()); failure.Failed()) return failure;
  std::string lines;
  for (const nlohmann::ordered_json& record : records) {
    if (!lines.empty()) lines += '\n';
    lines += record.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
  }
  // One append, under the spool's lock: all of them or none.
  Failure failure;
  if (AppendWholeLine(path_, lines, failure, nullptr, AppendLinks::kRefuse)) return {};
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
  const int lines = CountLines(fd);
  ::close(fd);
  return lines;
}

RecordSpool::Replay RecordSpool::Flush(const Writer& write) {
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
  const off_t taken = WriteLines(fd, write, replay);
  if (taken > 0 && !MoveToFront(fd, taken)) {
    replay.failure = FailureOfErrno(errno, "cannot rewrite the spool", path_);
  }
  replay.left = CountLines(fd);
  ::close(fd);
  return replay;
}

int64_t RecordSpool::WriteLines(int fd, const Writer& write, Replay& replay) const {
  LineReader lines(fd);
  off_t taken = 0;  // the bytes before it are in the database or moved aside
  off_t batchEnd = 0;
  std::vector<nlohmann::ordered_json> batch;
  const auto writeBatch = [&] {
    if (batch.empty()) return true;
    if (Failure failure = write(batch); failure.Failed()) {
      replay.failure = failure;
      return false;
    }
    replay.written += int(batch.size());
    taken = batchEnd;
    batch.clear();
    return true;
  };
  std::string line;
  off_t end = 0;
  bool going = true;
  while (going && lines.Next(line, end)) {
    auto record = nlohmann::ordered_json::parse(line, nullptr, false);
    if (record.is_object()) {
      batch.push_back(std::move(record));
      batchEnd = end;
      if (batch.size() >= kSpoolBatch) going = writeBatch();
      continue;
    }
    // A line that is no record can go to no database: it is moved aside for a person to look
    // at, after the records before it went in, and the records after it go on.
    going = writeBatch() && MoveAside(line, replay);
    if (going) taken = end;
  }
  if (going) writeBatch();
  if (lines.error() != 0 && !replay.failure.Failed()) {
    replay.failure = FailureOfErrno(lines.error(), "cannot read the spool", path_);
  }
  return taken;
}

bool RecordSpool::MoveAside(const std::string& line, Replay& replay) const {
  if (Failure failure;
      !AppendWholeLine(rejectedPath_, line, failure, nullptr, AppendLinks::kRefuse)) {
    failure.action = "cannot move a line that is no record aside to";
    failure.subject = rejectedPath_;
    replay.failure = failure;
    return false;
  }
  ++replay.rejected;
  return true;
}

}  // namespace vn

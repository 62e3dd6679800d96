// Every path vespanode-cli opens or writes, against every kind of thing a path can be: each cell
// ends within a bound, with the documented exit code and outcome, and changes nothing in its
// scratch folder but what the command is there to write. Runs as root and (through
// unprivileged_file_tests) once more as an unprivileged user.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>

#include "dld/inspect.h"
#include "dld/region_sets.h"
#include "link/download.h"
#include "platform/file_kind.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"
#include "support/small_disk.h"

namespace vn::testing {
namespace {

namespace fs = std::filesystem;

enum class Kind {
  kRegular,
  kReadOnly,
  kLink,
  kDanglingLink,
  kFifo,
  kDevice,
  kFolder,
  kMissingParent,
  kFullDisk,
  kLocked,
  kForeignLink,  // another user's link in a folder all may write to, with the sticky bit
  kLongName,     // a name one character longer than the system takes (NAME_MAX)
};
constexpr int kKinds = 12;
const char* const kKindNames[kKinds] = {"regular file",
                                        "read-only file",
                                        "symbolic link",
                                        "dangling link",
                                        "FIFO",
                                        "character device",
                                        "folder",
                                        "missing parent folder",
                                        "full disk",
                                        "locked file",
                                        "foreign link in a shared sticky folder",
                                        "name too long"};

// What the cell leaves at the path under test.
enum class Effect {
  kNone,     // not applicable: the cell is skipped
  kKept,     // as it was (a file's bytes, a link and its target, a FIFO, a device, a folder)
  kWritten,  // (links followed) a regular file holding what the command writes; links stay
  kRemoved,  // the tool's own name: the entry is gone, whatever it pointed to is not
  kAny,      // a failure whose leftovers are the command's business (a full disk's partial file)
};

struct Expect {
  int exit = 0;
  Effect effect = Effect::kNone;
  const char* says = "";  // part of standard error
};

// A cell that ends with `exit` and says `says`; the path under test stays as it was unless told.
constexpr Expect Says(int exit, const char* says, Effect effect = Effect::kKept) {
  return {exit, effect, says};
}
// Outcomes that many cells share.
constexpr Expect kSkipped{};
constexpr Expect kAnyOutcome{0, Effect::kAny};
constexpr Expect kKeeps{0, Effect::kKept};
constexpr Expect kWrites{0, Effect::kWritten};
constexpr Expect kRemoves{0, Effect::kRemoved};
constexpr Expect kDenied = Says(2, "Permission denied");
constexpr Expect kNoSuchFile = Says(2, "No such file");
constexpr Expect kFifo = Says(2, "is a FIFO, not a file");
constexpr Expect kDevice = Says(2, "is a device, not a file");
constexpr Expect kFolder = Says(2, "is a folder, not a file");
constexpr Expect kNoSpace = Says(2, "No space left");
constexpr Expect kLockHeld = Says(2, "held the lock");
constexpr Expect kUnannounced = Says(0, "cannot announce the box");
constexpr Expect kForeign = Says(2, "is a link of another user in the shared folder");
constexpr Expect kTooLong = Says(2, "File name too long");
constexpr Expect kExists = Says(2, "already exists");
constexpr Expect kOverSource = Says(2, "would be written over the source");

// The tool's every path. For each, what each kind of thing there leads to, in the order of Kind:
// regular, read-only, link, dangling link, FIFO, device, folder, missing parent, full disk, locked,
// foreign link, name too long (for the upload's partial file: a FILE that fits, whose
// FILE.partial does not).
// In a role's command, PATH is the path under test (an entry of the row's name), SAME another
// spelling of it (through "."), PORT the virtual box's, KEY a sound key file, FLASH a flash image,
// and TARGET the FILE whose FILE.partial is PATH.
struct Role {
  const char* testName;
  const char* entry;
  const char* command;  // its words, as the program gets them
  std::array<Expect, kKinds> cells;
};
constexpr Role Row(const char* testName, const char* entry, const char* command,
                   std::array<Expect, kKinds> cells) {
  return {testName, entry, command, cells};
}

const Role kRoles[] = {
    Row("DownloadFile", "target", "download --port PORT PATH",
        {kKeeps, kKeeps, kKeeps, kNoSuchFile, Says(2, "is a FIFO"), Says(2, "is a device"),
         Says(2, "is a folder"), kNoSuchFile, kKeeps, kKeeps, kForeign, kTooLong}),
    Row("UploadFile", "target", "upload --port PORT --set key PATH --force",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile,
         Says(1, "disk full"), kWrites, kForeign, kTooLong}),
    Row("UploadPartial", "key.dld.partial", "upload --port PORT --set key TARGET",
        {kRemoves, kRemoves, kRemoves, kRemoves, kFifo, kDevice, kFolder, kNoSuchFile,
         Says(1, "disk full", Effect::kAny), kRemoves, kRemoves, kTooLong}),
    Row("Record", "target", "download KEY --record PATH --port PORT",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile,
         Says(1, "No space left"), kLockHeld, kForeign, kTooLong}),
    Row("PackOutput", "target", "pack --set key --flash FLASH -o PATH",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile, kNoSpace,
         kWrites, kForeign, kTooLong}),
    Row("ExtractFlash", "target", "extract KEY --flash PATH",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile, kNoSpace,
         kWrites, kForeign, kTooLong}),
    Row("InspectFile", "target", "inspect PATH",
        {kKeeps, kKeeps, kKeeps, kNoSuchFile, kFifo, kDevice, kFolder, kNoSuchFile, kKeeps, kKeeps,
         kForeign, kTooLong}),
    // The name is the tool's own, in its own folder: whatever stands there is removed, never
    // written through, and the header is sent from memory when the name cannot be used.
    Row("ScratchHeader", kScratchHeaderName, "download --port PORT KEY",
        {kRemoves, kRemoves, kRemoves, kRemoves, kRemoves, kRemoves, kKeeps, kSkipped, kSkipped,
         kRemoves, kSkipped, kSkipped}),
    // The virtual box's announcement folder in the runtime folder: the box uses only a private
    // folder of its own making and runs unannounced otherwise; `ports` lists without waiting.
    // (Its command lines are RunBoxAndPorts'.)
    Row("AnnouncementFolder", "vespanode", "",
        {kUnannounced, kUnannounced, kUnannounced, kUnannounced, kUnannounced, kUnannounced,
         Says(0, "not 0700"), kUnannounced, kAnyOutcome, kUnannounced, kSkipped}),
    // A trace that cannot be written costs its lines, said once, never the box.
    Row("Trace", "target", "download KEY --trace PATH --port PORT",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile,
         Says(0, "is incomplete: No space left", Effect::kAny), kLockHeld, kForeign, kTooLong}),
    // A record in an SQLite file: the same checks before the first box, SQLite's own words for
    // a full disk. SQLite locks by its own means: another program's flock keeps nothing out.
    Row("RecordSqlite", "target.sqlite", "download KEY --record PATH --port PORT",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile,
         Says(2, "disk is full", Effect::kAny), kWrites, kForeign, kTooLong}),
    // The report's page, written whole as pack writes its file.
    Row("ReportHtml", "target", "report KEY --html PATH",
        {kWrites, kDenied, kWrites, kWrites, kFifo, kDevice, kFolder, kNoSuchFile, kNoSpace,
         kWrites, kForeign, kTooLong}),
    // What a verify read, kept as an upload keeps a backup; like upload without --force it
    // never replaces a file.
    Row("VerifySave", "target", "verify KEY --port PORT --save PATH",
        {kExists, kDenied, kExists, kWrites, kFifo, kDevice, kFolder, kNoSuchFile, kExists, kExists,
         kForeign, kTooLong}),
    // The report's page named as its own source under another name: refused before anything is
    // read or written, whatever stands there.
    Row("ReportHtmlOverRecords", "target", "report PATH --html SAME",
        {kOverSource, kOverSource, kOverSource, kOverSource, kOverSource, kOverSource, kOverSource,
         kOverSource, kOverSource, kOverSource, kOverSource, kTooLong}),
    Row("ReportHtmlOverSqlite", "target.sqlite", "report PATH --html SAME",
        {kOverSource, kOverSource, kOverSource, kOverSource, kOverSource, kOverSource, kOverSource,
         kOverSource, kOverSource, kOverSource, kOverSource,
         Says(2, "unable to open database file")})};

enum RoleIndex {
  kDownload,
  kUpload,
  kPartial,
  kRecord,
  kPack,
  kExtract,
  kInspect,
  kScratch,
  kAnnounce,
  kTrace,
  kRecordSqlite,
  kReportHtml,
  kVerifySave,
  kReportOverRecords,
  kReportOverSqlite
};

// What a file the tool reads or replaces held before the cell: sound where it is read.
std::vector<uint8_t> OldContents(int role) {
  if (role == kDownload || role == kInspect) return SampleUpgradeFile(Operation::kUploadKey, 61);
  // Most of a page: an append to a full disk gets part of the way before the disk refuses.
  // An empty file is an empty SQLite database.
  if (role == kRecordSqlite) return {};
  if (role == kRecord || role == kTrace) {
    const std::string line = std::string(4000, ' ') + "{}\n";
    return {line.begin(), line.end()};
  }
  return {'o', 'l', 'd'};
}

// Every entry under `root`, links not followed: kind, link target or contents.
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> entries;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(root, error); it != fs::end(it);
       it.increment(error)) {
    const std::string path = it->path().string();
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) continue;
    std::string what = std::to_string(info.st_mode) + ":" + std::to_string(info.st_rdev);
    if (S_ISLNK(info.st_mode)) what += fs::read_symlink(path, error).string();
    // Small files by their contents; a large one (the copy of the program the scratch-header
    // cells run) by its size and time, since hashing it twice a cell is slow under sanitizers.
    if (S_ISREG(info.st_mode) && info.st_size <= (1 << 20)) {
      const std::vector<uint8_t> bytes = ReadBytes(path);
      what += std::to_string(std::hash<std::string>()(std::string(bytes.begin(), bytes.end())));
    } else if (S_ISREG(info.st_mode)) {
      what += std::to_string(info.st_size) + "@" + std::to_string(info.st_mtim.tv_sec) + "." +
              std::to_string(info.st_mtim.tv_nsec);
    }
    entries[path] = what;
  }
  return entries;
}

// One cell: the thing under test made in a scratch folder, the command run, the outcome checked.
class Cell {
 public:
  Cell(int role, Kind kind) : role_(role), kind_(kind) {}

  // False when the cell cannot be made here (a device or a disk without root).
  bool Make() {
    std::string folder = folder_.Path();
    if (role_ == kScratch) {
      folder = folder_.File("bin");
      fs::create_directory(folder);
      cli_ = folder + "/vespanode-cli";
      fs::copy_file(OurProgram("vespanode-cli"), cli_);
    }
    if (kind_ == Kind::kMissingParent) folder += "/absent";
    if (kind_ == Kind::kForeignLink) {
      folder += "/shared";
      fs::create_directory(folder);
      ::chmod(folder.c_str(), 01777);
    }
    if (kind_ == Kind::kFullDisk) {
      folder += "/disk";
      fs::create_directory(folder);
      disk_ = std::make_unique<SmallDisk>(folder, 64);
      if (!disk_->Mounted()) return false;
    }
    std::string entry = kRoles[role_].entry;
    if (kind_ == Kind::kLongName) entry.insert(0, NAME_MAX + 1 - entry.size(), 'n');
    path_ = folder + "/" + entry;
    runtimeFolder_ = folder;
    target_ =
        role_ == kPartial ? path_.substr(0, path_.size() - std::string(".partial").size()) : path_;
    if (Uses("KEY"))
      keyFile_ = folder_.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 61));
    if (Uses("FLASH")) flashImage_ = folder_.Write("flash.bin", SampleFlashImage(62));
    const std::vector<uint8_t> old = OldContents(role_);
    switch (kind_) {
      case Kind::kRegular:
      case Kind::kReadOnly:
      case Kind::kFullDisk:
      case Kind::kLocked:
        WriteBytes(path_, old);
        if (kind_ == Kind::kReadOnly) ::chmod(path_.c_str(), 0444);
        break;
      case Kind::kLink:
        fs::create_symlink(folder_.Write("real", old), path_);
        break;
      case Kind::kDanglingLink:
        fs::create_symlink(folder_.File("absent-real"), path_);
        break;
      case Kind::kForeignLink:
        // To a file only its owner may write: only root can give the link away (nobody's own
        // chown to nobody would keep it the caller's).
        if (::geteuid() != 0) return false;
        fs::create_symlink(folder_.Write("real", old), path_);
        ::chmod(folder_.File("real").c_str(), 0600);
        if (::lchown(path_.c_str(), 65534, 65534) != 0) return false;
        break;
      case Kind::kFifo:
        if (::mkfifo(path_.c_str(), 0600) != 0) return false;
        break;
      case Kind::kDevice: {
        struct stat null;
        if (::stat("/dev/null", &null) != 0) return false;
        if (::mknod(path_.c_str(), S_IFCHR | 0666, null.st_rdev) != 0) return false;
        break;
      }
      case Kind::kFolder:
        fs::create_directory(path_);
        break;
      case Kind::kMissingParent:
      case Kind::kLongName:
        break;
    }
    if (kind_ == Kind::kFullDisk) FillDisk(folder);
    if (kind_ == Kind::kLocked) {
      lockFd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
      if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX) != 0) return false;
    }
    before_ = Snapshot(folder_.Path());
    return true;
  }

  ChildResult Run() {
    ChildOptions bound;
    bound.timeout = std::chrono::seconds(40);
    if (role_ == kAnnounce) return RunBoxAndPorts(bound);
    std::unique_ptr<VirtualBox> box;
    if (Uses("PORT")) {
      BoxOptions options;
      // A verify's box holds what KEY holds.
      options.flash = SampleFlashImage(role_ == kVerifySave ? 61 : 63);
      box = std::make_unique<VirtualBox>(options);
      if (!box->Start()) return {};
    }
    const size_t slash = path_.rfind('/');
    const std::map<std::string, std::string> values = {
        {"PORT", box ? box->PtyPath() : ""},
        {"PATH", path_},
        {"SAME", path_.substr(0, slash) + "/./" + path_.substr(slash + 1)},
        {"TARGET", target_},
        {"KEY", keyFile_},
        {"FLASH", flashImage_}};
    std::vector<std::string> args;
    std::istringstream words(kRoles[role_].command);
    for (std::string word; words >> word;) {
      args.push_back(values.contains(word) ? values.at(word) : word);
    }
    return role_ == kScratch ? RunChild(cli_, args, bound) : RunCli(args, bound);
  }

  // A box started in the runtime folder under test and `ports` run while it is up: `ports`'s exit
  // code, and what both said on standard error.
  ChildResult RunBoxAndPorts(ChildOptions bound) {
    const RuntimeFolderAt runtime(runtimeFolder_);
    ChildResult ports;
    bool listed = false;
    const ChildResult box = RunBox(
        {},
        [&](const std::string&, int pid) {
          listed = true;
          ChildOptions portsBound;
          portsBound.timeout = std::chrono::seconds(20);
          ports = RunCli({"ports"}, portsBound);
          ::kill(pid, SIGTERM);
        },
        bound.timeout);
    EXPECT_TRUE(listed) << "the box never said its pty: " << box.err;
    ports.timedOut = ports.timedOut || box.timedOut;
    ports.err = box.err + ports.err;
    return ports;
  }

  void Check(const Expect& expect) {
    if (lockFd_ >= 0) ::close(lockFd_);
    const auto after = Snapshot(folder_.Path());
    const std::string written = FollowLinks(path_);
    // Only the path itself, where its link leads, the upload's own two names (its part left behind
    // only by a failure) and the box's own announcement inside a folder it made may change.
    const auto mayChange = [&](const std::string& entry, bool partialToo) {
      return entry == path_ || entry == written || entry == target_ ||
             (partialToo && entry == target_ + ".partial") ||
             (role_ == kAnnounce && entry.starts_with(path_ + "/"));
    };
    for (const auto& [entry, what] : before_) {
      EXPECT_TRUE(mayChange(entry, true) || (after.count(entry) && after.at(entry) == what))
          << "changed: " << entry;
    }
    for (const auto& [entry, what] : after) {
      EXPECT_TRUE(before_.count(entry) || mayChange(entry, expect.exit != 0))
          << "left behind: " << entry;
    }
    const auto keptOld = before_.find(path_);
    switch (expect.effect) {
      case Effect::kKept:
        if (keptOld == before_.end()) {
          EXPECT_FALSE(after.count(path_)) << "created";
        } else {
          EXPECT_TRUE(after.count(path_) && after.at(path_) == keptOld->second) << "changed";
        }
        break;
      case Effect::kRemoved:
        EXPECT_FALSE(fs::exists(fs::symlink_status(path_)));
        break;
      case Effect::kWritten:
        if (before_.count(path_) && fs::is_symlink(fs::symlink_status(path_))) {
          EXPECT_EQ(after.at(path_), before_.at(path_)) << "the link itself was replaced";
        }
        EXPECT_TRUE(fs::is_regular_file(written));
        CheckWritten(ReadBytes(written));
        break;
      case Effect::kAny:
      case Effect::kNone:
        break;
    }
  }

 private:
  bool Uses(const std::string& placeholder) const {
    const std::string command = std::string(" ") + kRoles[role_].command + " ";
    return command.find(" " + placeholder + " ") != std::string::npos;
  }

  // Fills the disk to its last byte.
  static void FillDisk(const std::string& folder) {
    const int fd = ::open((folder + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    const std::vector<char> chunk(512, 'f');
    while (::write(fd, chunk.data(), chunk.size()) > 0) {
    }
    while (::write(fd, chunk.data(), 1) > 0) {
    }
    ::close(fd);
  }

  void CheckWritten(const std::vector<uint8_t>& bytes) const {
    switch (role_) {
      case kUpload:
      case kPack:
      case kVerifySave:
        EXPECT_TRUE(InspectUpgradeFile(bytes).Sound());
        break;
      case kRecord:
      case kTrace: {
        // Whole lines after whatever was there: the box's one JSON line in a record, its header
        // among the lines of a trace.
        const std::string text(bytes.begin(), bytes.end());
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        if (role_ == kTrace) {
          EXPECT_NE(text.find(" sent header 71 11 "), std::string::npos) << text;
          break;
        }
        const std::vector<std::string> lines = Lines(text);
        for (const std::string& line : lines) EXPECT_TRUE(nlohmann::json::accept(line)) << text;
        EXPECT_EQ(lines.size(), kind_ == Kind::kDanglingLink ? 1u : 2u);
        break;
      }
      case kRecordSqlite: {
        // The box's row, and SQLite's -wal and -shm files gone with the last connection.
        const std::string text(bytes.begin(), bytes.end());
        EXPECT_TRUE(text.starts_with(std::string("SQLite format 3", 16))) << "no database";
        EXPECT_NE(text.find("\"result\":\"success\""), std::string::npos) << "no record";
        break;
      }
      case kExtract:
        EXPECT_GT(bytes.size(), OldContents(kExtract).size()) << "no region written";
        break;
      default:
        break;
    }
  }

  int role_;
  Kind kind_;
  ScratchFolder folder_;
  std::unique_ptr<SmallDisk> disk_;  // unmounted before the folder goes
  std::string path_;
  std::string target_;
  std::string keyFile_;
  std::string flashImage_;
  std::string cli_;
  std::string runtimeFolder_;
  int lockFd_ = -1;
  std::map<std::string, std::string> before_;
};

class PathKinds : public ::testing::TestWithParam<int> {};

TEST_P(PathKinds, EveryKindOfThingEndsInItsDocumentedOutcome) {
  const Role& role = kRoles[GetParam()];
  for (int kind = 0; kind < kKinds; ++kind) {
    const Expect& expect = role.cells[kind];
    if (expect.effect == Effect::kNone) continue;
    SCOPED_TRACE(std::string(role.testName) + " on a " + kKindNames[kind]);
    Cell cell(GetParam(), Kind(kind));
    if (!cell.Make()) {
      std::printf("[ SKIPPED  ] %s on a %s: needs root\n", role.testName, kKindNames[kind]);
      continue;
    }
    const ChildResult run = cell.Run();
    EXPECT_FALSE(run.timedOut) << "hung";
    EXPECT_EQ(run.exitCode, expect.exit) << run.err;
    EXPECT_NE(run.err.find(expect.says), std::string::npos) << run.err;
    cell.Check(expect);
  }
}

INSTANTIATE_TEST_SUITE_P(EveryPath, PathKinds, ::testing::Range(0, int(std::size(kRoles))),
                         [](const auto& info) { return std::string(kRoles[info.param].testName); });

}  // namespace
}  // namespace vn::testing

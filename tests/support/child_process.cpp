#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

extern char** environ;

namespace vn::testing {
namespace {

void DeliverLines(std::string& pending, const ChildOptions& options, int pid) {
  size_t end;
  while ((end = pending.find('\n')) != std::string::npos) {
    const std::string line = pending.substr(0, end);
    pending.erase(0, end + 1);
    if (options.onLine) options.onLine(line, pid);
  }
}

}  // namespace

ChildResult RunCli(const std::vector<std::string>& args, const ChildOptions& options) {
  return RunChild(OurProgram("vespanode-cli"), args, options);
}

ChildResult RunBox(const std::vector<std::string>& args,
                   const std::function<void(const std::string& pty, int pid)>& onPty,
                   std::chrono::seconds timeout, int unreadErrPipeSize) {
  ChildOptions options;
  options.timeout = timeout;
  options.unreadErrPipeSize = unreadErrPipeSize;
  bool said = false;
  options.onLine = [&](const std::string& line, int pid) {
    if (said || !line.starts_with("pty: ")) return;
    said = true;
    onPty(line.substr(5), pid);
  };
  return RunChild(OurProgram("vespanode-box"), args, options);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

RuntimeFolderAt::RuntimeFolderAt(const std::string& folder) {
  if (const char* old = std::getenv("XDG_RUNTIME_DIR")) old_ = old;
  ::setenv("XDG_RUNTIME_DIR", folder.c_str(), 1);
}

RuntimeFolderAt::~RuntimeFolderAt() {
  if (old_) {
    ::setenv("XDG_RUNTIME_DIR", old_->c_str(), 1);
  } else {
    ::unsetenv("XDG_RUNTIME_DIR");
  }
}

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options) {
  const CliJsonWatch jsonWatch(program, args);
  ChildResult result;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    close(outPipe[0]);
    close(outPipe[1]);
    return result;
  }
  if (options.unreadErrPipeSize > 0) fcntl(errPipe[1], F_SETPIPE_SZ, options.unreadErrPipeSize);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  if (!options.workingDirectory.empty()) {
    posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
  }
  // The child gets no copy of the test's own descriptors (a pseudo-terminal kept open by a
  // stray copy would never hang up).
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  const bool readErr = options.unreadErrPipeSize <= 0;
  if (spawned != 0) {
    close(outPipe[0]);
    close(errPipe[0]);
    result.err = "cannot start " + program;
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + options.timeout;
  std::string pending;
  // An unread standard error stays open, its pipe filling, until the child has ended.
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {readErr ? errPipe[0] : -1, POLLIN, 0}};
  int open = readErr ? 2 : 1;
  while (open > 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    if (poll(fds, 2, 100) <= 0) continue;
    for (pollfd& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buffer[4096];
      const ssize_t n = read(fd.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fd.fd);
        fd.fd = -1;
        --open;
        continue;
      }
      if (&fd == &fds[0]) {
        result.out.append(buffer, size_t(n));
        pending.append(buffer, size_t(n));
        DeliverLines(pending, options, pid);
        const auto lines = std::count(result.out.begin(), result.out.end(), '\n');
        if (options.closeOutAfterLines > 0 && lines >= options.closeOutAfterLines) {
          close(fd.fd);
          fd.fd = -1;
          --open;
        }
      } else {
        result.err.append(buffer, size_t(n));
      }
    }
  }
  for (pollfd& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (!readErr) close(errPipe[0]);
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  jsonWatch.Check(result);
  return result;
}

}  // namespace vn::testing

// Several processes, each with several threads, appending to one file at once: every line must
// arrive whole and exactly once, the long ones (beyond what one pipe write keeps together) too.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "platform/append_line.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

constexpr int kProcesses = 4;
constexpr int kThreads = 4;
constexpr int kLinesEach = 40;

// "p t n " and a body whose length and letter follow from the three numbers, from a few bytes
// to about 12 KiB.
std::string Line(int process, int thread, int n) {
  const size_t length = 1 + size_t(process * 7919 + thread * 104729 + n * 2971) % 12000;
  return std::to_string(process) + " " + std::to_string(thread) + " " + std::to_string(n) + " " +
         std::string(length, char('a' + (process + thread + n) % 26));
}

// Every thread's lines in turn; the process's exit status says whether all went in.
[[noreturn]] void AppendFromThreads(const std::string& path, int process) {
  std::vector<std::thread> threads;
  std::atomic<bool> failed = false;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([&, thread] {
      Failure failure;
      for (int n = 0; n < kLinesEach; ++n) {
        if (!AppendWholeLine(path, Line(process, thread, n), failure)) failed = true;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  _exit(failed ? 1 : 0);
}

TEST(AppendLine, ConcurrentProcessesAndThreadsNeverTearALine) {
  ScratchFolder folder;
  const std::string path = folder.File("record.jsonl");
  std::vector<pid_t> children;
  for (int process = 0; process < kProcesses; ++process) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) AppendFromThreads(path, process);
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::map<std::string, int> seen;
  std::ifstream in(path, std::ios::binary);
  for (std::string text; std::getline(in, text);) ++seen[text];
  int expected = 0;
  for (int process = 0; process < kProcesses; ++process) {
    for (int thread = 0; thread < kThreads; ++thread) {
      for (int n = 0; n < kLinesEach; ++n, ++expected) {
        EXPECT_EQ(seen[Line(process, thread, n)], 1) << process << " " << thread << " " << n;
      }
    }
  }
  EXPECT_EQ(seen.size(), size_t(expected)) << "torn or foreign lines in the file";
}

// Another program's lock costs at most the wait, and a stop request ends the wait at once; a lock
// released during the wait lets the line in.
TEST(AppendLine, AnotherProgramsLockIsWaitedForWithinBounds) {
  for (const bool stopped : {true, false}) {
    SCOPED_TRACE(stopped ? "stop requested" : "lock released after 300 ms");
    ScratchFolder folder;
    const std::string path = folder.Write("record.jsonl", {'{', '}', '\n'});
    const int holder = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    std::thread release([holder, stopped] {
      if (stopped) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      ::close(holder);
    });
    const std::atomic<bool> stop = stopped;
    const auto start = std::chrono::steady_clock::now();
    Failure failure;

    const bool added = AppendWholeLine(path, "{\"box\":1}", failure, &stop);

    release.join();
    if (stopped) ::close(holder);
    EXPECT_EQ(added, !stopped) << FailureText(failure);
    EXPECT_EQ(failure.kind, stopped ? FailureKind::kStopped : FailureKind::kNone);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    const std::vector<uint8_t> bytes = ReadBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), stopped ? "{}\n" : "{}\n{\"box\":1}\n");
  }
}

}  // namespace
}  // namespace vn::testing

// --http on a production line: the page's port is had before any box is asked, or the run does
// not begin; its address is said once; what --json writes does not change.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "platform/host_name.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

// A port of loopback held by this process for as long as it lives.
class HeldPort {
 public:
  HeldPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(fd_, 4);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~HeldPort() { Release(); }
  void Release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  std::string Port() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

size_t Count(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

struct HttpRow {
  const char* name;
  std::function<std::string(HeldPort&)> value;  // --http's value
  bool release = false;                         // the port is let go before the run
  int exitCode;
  const char* said;  // on standard error
  int sessions;      // boxes the run served
};

constexpr const char* kOpenWarning = "warning: the line page is open to the network on port ";

const std::vector<HttpRow> kRows = {
    {"a port in use", [](HeldPort& held) { return "127.0.0.1:" + held.Port(); }, false, 2, "in use",
     0},
    {"a port in use, no address given", [](HeldPort& held) { return held.Port(); }, false, 2,
     "in use", 0},
    {"an address not of this PC", [](HeldPort&) { return "192.0.2.1:8080"; }, false, 2,
     "cannot serve the line page on 192.0.2.1:8080", 0},
    {"a port past 65535", [](HeldPort&) { return "127.0.0.1:70000"; }, false, 2, "0 to 65535", 0},
    {"a word for a port", [](HeldPort&) { return "localhost:http"; }, false, 2, "0 to 65535", 0},
    {"no address before the colon", [](HeldPort&) { return ":8080"; }, false, 2, "no address", 0},
    {"a free port", [](HeldPort& held) { return held.Port(); }, true, 0,
     "vespanode-cli: the line page is at http://127.0.0.1:", 1},
    {"port 0: any free port, and the one taken is said", [](HeldPort&) { return "0"; }, false, 0,
     "vespanode-cli: the line page is at http://127.0.0.1:", 1},
    {"every address: a warning, and the address by the PC's name",
     [](HeldPort&) { return "0.0.0.0:0"; }, false, 0, kOpenWarning, 1},
    {"every IPv6 address: the same", [](HeldPort&) { return "[::]:0"; }, false, 0, kOpenWarning, 1},
};

TEST(LinePageOption, IsHadBeforeTheFirstBoxOrTheRunDoesNotBegin) {
  ScratchFolder folder;
  const std::string file = folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 5));
  for (const HttpRow& row : kRows) {
    SCOPED_TRACE(row.name);
    VirtualBox box;
    ASSERT_TRUE(box.Start());
    HeldPort held;
    const std::string value = row.value(held);
    if (row.release) held.Release();
    const ChildResult run =
        RunCli({"download", "--port", box.PtyPath(), "--http", value, "--json", file});
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, row.exitCode) << run.err;
    EXPECT_NE(run.err.find(row.said), std::string::npos) << run.err;
    EXPECT_EQ(box.Stats().downloadsDone, row.sessions);
    if (row.exitCode == 0) {
      EXPECT_EQ(Count(run.err, "the line page is at"), 1u) << run.err;
      const bool open = row.said == kOpenWarning;
      EXPECT_EQ(Count(run.err, kOpenWarning), open ? 1u : 0u) << run.err;
      if (open) {
        EXPECT_NE(run.err.find("the line page is at http://" + HostName() + ":"),
                  std::string::npos);
      }
      EXPECT_EQ(Count(run.out, "\"type\":\"box\""), 1u) << "--json as without --http";
      EXPECT_EQ(Count(run.out, "\"type\":\"summary\""), 1u);
    } else {
      EXPECT_EQ(run.out, "") << "no box was asked";
    }
  }
}

}  // namespace
}  // namespace vn::testing

// What a wait on the box costs: the CPU share of a wait with nothing arriving, and the delay from
// a byte written by the box to the waiting reader returning. Each is compared with the plain way
// of polling (one read per 1-millisecond timer tick). Runs over a pseudo-terminal.
//
//   bench_wait_cpu [seconds of idle wait, default 3] [latency trials, default 40]
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "link/framing.h"
#include "link/system_port.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Pty {
  int master = -1;
  int slave = -1;
  std::string path;
};

bool OpenPty(Pty& pty) {
  pty.master = posix_openpt(O_RDWR | O_NOCTTY);
  if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) return false;
  pty.path = ptsname(pty.master);
  pty.slave = open(pty.path.c_str(), O_RDWR | O_NOCTTY);  // keeps the master from hanging up
  termios raw{};
  tcgetattr(pty.slave, &raw);
  cfmakeraw(&raw);
  return tcsetattr(pty.slave, TCSANOW, &raw) == 0;
}

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// The plain way: one exact read per 1-millisecond tick.
uint8_t TimerPolledReply(vn::ComPort& port) {
  uint8_t byte = 0;
  while (port.PortOpened()) {
    if (port.ComReadExact(&byte, 1) == 1) return byte;
    std::this_thread::sleep_for(1ms);
  }
  return 0;
}

using Waiter = uint8_t (*)(vn::ComPort&);
uint8_t PortReply(vn::ComPort& port) {
  return vn::WaitReplyByte(port, vn::kReplyPolls * 100);
}

// Share of one core used while `wait` runs with nothing arriving, until a stop after `seconds`.
double IdleCpuPercent(vn::ComPort& port, const std::string& path, Waiter wait, double seconds) {
  port.OpenComPort(path);
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    port.RequestStop();
  });
  const double cpuBefore = ProcessCpuSeconds();
  const auto start = Clock::now();
  wait(port);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  const double cpu = ProcessCpuSeconds() - cpuBefore;
  stopper.join();
  return 100.0 * cpu / elapsed;
}

// Median microseconds from the box writing one byte to `wait` returning with it.
double MedianLatencyUs(vn::ComPort& port, const Pty& pty, Waiter wait, int trials) {
  port.OpenComPort(pty.path);
  std::vector<double> samples;
  for (int i = 0; i < trials; ++i) {
    Clock::time_point written, returned;
    std::thread reader([&] {
      wait(port);
      returned = Clock::now();
    });
    std::this_thread::sleep_for(20ms);  // the reader is asleep by now
    written = Clock::now();
    const uint8_t ack = vn::ACK;
    if (write(pty.master, &ack, 1) != 1) port.RequestStop();
    reader.join();
    samples.push_back(std::chrono::duration<double, std::micro>(returned - written).count());
  }
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::max(0.5, std::atof(argv[1])) : 3.0;
  const int trials = argc > 2 ? std::max(1, std::atoi(argv[2])) : 40;
  Pty pty;
  if (!OpenPty(pty)) {
    std::fprintf(stderr, "cannot open a pseudo-terminal\n");
    return 1;
  }
  auto port = vn::MakeSystemComPort();
  if (!port->OpenComPort(pty.path)) {
    std::fprintf(stderr, "cannot open %s\n", pty.path.c_str());
    return 1;
  }

  const double waitCpu = IdleCpuPercent(*port, pty.path, PortReply, seconds);
  const double timerCpu = IdleCpuPercent(*port, pty.path, TimerPolledReply, seconds);
  std::printf("idle wait, %.1f s with nothing arriving (share of one core)\n", seconds);
  std::printf("  sleeping on the port:   %6.3f %%\n", waitCpu);
  std::printf("  1 ms timer polling:     %6.3f %%\n", timerCpu);
  std::printf("  ratio timer / port:     %6.1f\n", waitCpu > 0 ? timerCpu / waitCpu : 0.0);

  const double waitLatency = MedianLatencyUs(*port, pty, PortReply, trials);
  const double timerLatency = MedianLatencyUs(*port, pty, TimerPolledReply, trials);
  std::printf("delay from the box's byte to the reader returning (median of %d)\n", trials);
  std::printf("  sleeping on the port:   %8.1f us\n", waitLatency);
  std::printf("  1 ms timer polling:     %8.1f us\n", timerLatency);
  std::printf("  ratio timer / port:     %8.1f\n",
              waitLatency > 0 ? timerLatency / waitLatency : 0.0);
  std::printf("target: idle wait under 1 %% of a core: %s\n", waitCpu < 1.0 ? "met" : "NOT met");
  port->CloseComPort();
  close(pty.slave);
  close(pty.master);
  return 0;
}

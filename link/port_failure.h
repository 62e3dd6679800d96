#pragma once
// Why a port could not be opened: a few kinds a user can act on, and the system's own words.
#include <string>

namespace vn {

enum class PortProblem {
  kNone,
  kNoSuchDevice,      // nothing at that name: wrong name, or the adapter is unplugged
  kPermissionDenied,  // the user may not open it (on Linux: not in the dialout group)
  kBusy,              // another program, or another copy of this one, holds it
  kNotASerialPort,    // the name exists but is no serial port: a folder, a file, a pty master
  kSetupFailed,       // opened, but the line settings were refused
};

struct PortOpenFailure {
  PortProblem problem = PortProblem::kNone;
  std::string systemMessage;  // the operating system's text for the error, when there is one
  // kNotASerialPort: what the name is instead ("a folder"); kBusy: who holds the port
  // ("minicom, pid 4711"), when that can be found. Often empty.
  std::string detail;
};

// One line for the user: what went wrong and the one thing to do about it, e.g.
// "permission denied; add your user to the dialout group and log in again".
std::string DescribePortFailure(const PortOpenFailure& failure);
// What to do about a port the user may not open, after "permission denied": "; add ..." or
// nothing. Each system's port file gives its own.
std::string PermissionAdvice();

}  // namespace vn

#pragma once
// Why something could not be done, in one shape from the operating system up to the user: a kind
// the user can act on, what was being done to which file or port, and the system's own words.
#include <string>

namespace vn {

enum class FailureKind {
  kNone,
  kNotFound,          // nothing at that name: a wrong name, a missing file, an unplugged adapter
  kPermissionDenied,  // this user may not open or change it (a read-only file or disk included)
  kBusy,              // another program, or another copy of this one, holds it
  kWrongKind,         // something else stands at the name: a folder, a FIFO, a device, no port
  kNoSpace,           // the disk (or this user's quota on it) is full
  kSetupFailed,       // opened, but its settings were refused (a port's line settings)
  kDamaged,           // read, but what it holds is not sound: a damaged or a wrong file
  kStopped,           // a stop request ended the wait for it
  kOther,             // anything else: the words say what
};

// The empty braces let a designated initializer name only the fields it sets.
struct Failure {
  FailureKind kind = FailureKind::kNone;
  std::string action{};         // what was being done, "cannot write"; often empty
  std::string subject{};        // the file or port it concerns; empty when the caller names it
  std::string systemMessage{};  // the system's words for it, or ours where the system has none
  // What more is known. A port that is kWrongKind: what the name is instead ("a folder"); kBusy:
  // who holds it ("minicom, pid 4711"), when that can be found. A box that failed: the reason the
  // run gave beside its status text. Often empty.
  std::string detail{};
  int systemCode = 0;  // the system's number for it (errno, a Windows error code); 0 when none

  bool Failed() const { return kind != FailureKind::kNone; }
};

// The failure an errno value stands for, in the system's words.
Failure FailureOfErrno(int code, std::string action = {}, std::string subject = {});
// A failure the system gave no words for: ours.
Failure FailureSaying(FailureKind kind, std::string words, std::string subject = {});

// The failure in one line: "cannot write FILE: No space left on device" with an action,
// "FILE is a FIFO, not a file" with a subject alone, the bare words without either.
std::string FailureText(const Failure& failure);

}  // namespace vn

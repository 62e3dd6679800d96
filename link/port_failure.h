#pragma once
// Why a port could not be opened, in words that say what to do about it.
#include <string>

#include "platform/failure.h"

namespace vn {

// A port's failure to open is a Failure like any other; these are the kinds it comes in:
//   kNotFound          nothing at that name: wrong name, or the adapter is unplugged
//   kPermissionDenied  the user may not open it (on Linux: not in the dialout group)
//   kBusy              another program, or another copy of this one, holds it; `detail` says
//                      who ("minicom, pid 4711") when that can be found
//   kWrongKind         the name exists but is no serial port: a folder, a file, a pty master;
//                      `detail` says what it is instead ("a folder")
//   kSetupFailed       opened, but the line settings were refused

// One line for the user: what went wrong and the one thing to do about it, e.g.
// "permission denied; add your user to the dialout group and log in again".
std::string DescribePortFailure(const Failure& failure);
// What to do about a port the user may not open, after "permission denied": "; add ..." or
// nothing. Each system's port file gives its own.
std::string PermissionAdvice();

}  // namespace vn

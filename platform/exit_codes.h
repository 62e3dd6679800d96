#pragma once
// The exit status of vespanode-cli, the same for every command, and of vespanode-box: one list
// for every program, on the floor all of them stand on.
namespace vn {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;  // a box failed; inspect: the file is unsound
inline constexpr int kExitBadInput =
    2;  // bad usage, a file that cannot be read or written, no port
inline constexpr int kExitInterrupted = 130;  // SIGINT or SIGTERM, as the window's Reset (cli)

}  // namespace vn

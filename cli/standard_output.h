#pragma once
// Standard output that could not be written. A reader that went away (`| head`) took what it
// wanted, and the run goes on to its end as before. Any other failure (a full disk, a device that
// takes nothing) lost lines that a person or a script counted on: the program says so on standard
// error and does not end with 0.
#include <cstdio>

namespace vn {

// Flushes `out`; when that is standard output and it fails, notes the first such failure's cause.
void FlushOutput(std::FILE* out);

// At the program's end: flushes standard output and returns the exit status to end with, which is
// `exitCode` unless standard output failed otherwise than by a closed pipe (then 1 where it was 0).
int FinishStandardOutput(int exitCode);

}  // namespace vn

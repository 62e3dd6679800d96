#pragma once
// Positions in files larger than a long can count: each system has its own 64-bit seek.
#include <cstdint>
#include <cstdio>

namespace vn {

// Moves to `position` from the start; false for a null file, a negative position or a refusal.
bool SeekFileTo(std::FILE* file, int64_t position);
// The file's size, leaving the position at its end; -1 when it cannot be told.
int64_t SeekFileEnd(std::FILE* file);

}  // namespace vn

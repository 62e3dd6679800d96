#pragma once
// What `inspect` prints: a table for people, or one JSON object for scripts.
#include <cstdio>
#include <string>

#include "dld/inspect.h"

namespace vn {

void PrintInspectText(std::FILE* out, const std::string& fileName, const InspectReport& report);
void PrintInspectJson(std::FILE* out, const std::string& fileName, const InspectReport& report);
// The object for a file that could not be read at all: not sound, and why.
void PrintInspectFailureJson(std::FILE* out, const std::string& fileName, const std::string& why);

}  // namespace vn

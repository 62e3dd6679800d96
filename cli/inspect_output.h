#pragma once
// What `inspect` prints: a table for people, or one JSON object for scripts.
#include <cstdio>
#include <string>

#include "dld/inspect.h"

namespace vn {

void PrintInspectText(std::FILE* out, const std::string& fileName, const InspectReport& report);
void PrintInspectJson(std::FILE* out, const std::string& fileName, const InspectReport& report);

// A JSON string literal, quotes included. Bytes outside printable ASCII are written as \u00XX,
// so any header text (which need not be UTF-8) gives valid JSON.
std::string JsonString(const std::string& text);

}  // namespace vn

#pragma once
// Faults named on the command line: "nak-frame=3", "silent-at=erase", "garbage-before-ready".
#include <string>
#include <string_view>

#include "sim/virtual_box.h"

namespace vn {

// Sets one fault from "name" (switches, and counts meaning 1) or "name=value". False, with
// `error` saying why, for an unknown name, a value that is not a positive number, or an unknown
// step.
bool ApplyFaultOption(std::string_view text, BoxFaults& faults, std::string& error);

// One line per fault, then the steps that faults name, for the help text.
std::string FaultOptionHelp();

}  // namespace vn

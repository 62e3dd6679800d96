#pragma once
// Faults named on the command line: "nak-frame=3", "silent-at=erase", "garbage-before-ready".
#include <optional>
#include <string>
#include <string_view>

#include "sim/box_options.h"

namespace vn {

// Sets one fault from "name" (switches, and counts the help shows bare, meaning 1) or
// "name=value". False, with `error` saying why, for an unknown name, a count shown as "=N" given
// without its value, a value that is not a positive number, or an unknown step.
bool ApplyFaultOption(std::string_view text, BoxFaults& faults, std::string& error);

// The whole text as a whole number from `low` to `high`; nullopt for anything else ("-1", "1.5",
// "2x", one too large for an int).
std::optional<int> WholeNumberIn(std::string_view text, int low, int high);

// How the command line spells a step: "start", "first-erase", ...; "" for kNone.
std::string_view FaultStepName(FaultStep step);

// One line per fault, then the steps that faults name, for the help text.
std::string FaultOptionHelp();

}  // namespace vn

#pragma once
// Checks of option values that the commands share. They run while the command line is parsed, so
// that a value that cannot work is refused (exit 2) before any file or port is opened.
#include <CLI/CLI.hpp>

namespace vn {

// A file, image, record or port name: an empty one names nothing.
CLI::Validator NonEmptyName();

// A file the tool writes lines to (--record, --trace): not empty, and no word that reads as an
// option ("--json" right after --record would take the flag as the file's name). "-" is standard
// error where `dashIsStandardError`, and refused elsewhere: it would make a file named "-".
CLI::Validator LineFileName(bool dashIsStandardError);

// A number of seconds from `low` to `high`. NaN and infinity are refused: no comparison would.
CLI::Validator SecondsFromTo(double low, double high);

// A whole number of boxes, 0 or more. CLI11's own range check would print the largest int it
// accepts in full.
CLI::Validator BoxCount();
// --http's [ADDR:]PORT.
CLI::Validator HttpAddress();
// --http-host's NAME: a host name or address, without a port.
CLI::Validator HttpHostName();

}  // namespace vn

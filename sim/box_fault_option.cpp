#include "sim/box_fault_option.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>
#include <variant>
#include <vector>

#include "dld/region_sets.h"
#include "platform/text_format.h"

namespace vn {
namespace {

using enum FaultStep;

// Every step's name on the command line, in the enum's order.
constexpr std::array<std::string_view, 11> kStepNames = {
    "",      "start",   "header",  "verdict", "descriptor", "frame", "first-erase",
    "erase", "program", "request", "answer"};
static_assert(kStepNames.size() == size_t(kAnswer) + 1, "a name for every step");

// The steps at which a box can go silent or vanish.
constexpr std::array<FaultStep, 8> kSteps = {kStart, kHeader, kVerdict, kDescriptor,
                                             kFrame, kErase,  kProgram, kRequest};

// The steps whose message can follow the one before it in the same write.
constexpr std::array<FaultStep, 5> kJoinedSteps = {kVerdict, kDescriptor, kFirstErase, kErase,
                                                   kProgram};

// The kinds of message the PC sends.
constexpr std::array<FaultStep, 7> kReceivedKinds = {kStart,   kHeader,  kDescriptor, kFrame,
                                                     kRequest, kVerdict, kAnswer};

// The steps' names as the help and the errors list them.
std::string Choices(std::span<const FaultStep> steps, std::string_view last = " or ") {
  std::vector<std::string_view> names;
  for (const FaultStep step : steps) names.push_back(FaultStepName(step));
  return ChoiceList(names, last);
}

// The values a fault naming a step or a message kind takes.
std::span<const FaultStep> ValuesOf(FaultStep BoxFaults::*field) {
  if (field == &BoxFaults::backToBack) return kJoinedSteps;
  if (field == &BoxFaults::damageReceived) return kReceivedKinds;
  return kSteps;
}

struct FaultOption {
  std::string_view name;
  std::variant<int BoxFaults::*, bool BoxFaults::*, FaultStep BoxFaults::*,
               std::chrono::milliseconds BoxFaults::*, uint32_t BoxFaults::*>
      field;
  std::string_view value;  // how its value is written in the help, if it takes one
  std::string_view help;
};

const std::array<FaultOption, 27> kOptions = {{
    {"nak-frame", &BoxFaults::nakFrame, "=N", "answer NAK to the Nth data frame received"},
    {"nak-frame-times", &BoxFaults::nakFrameTimes, "=K",
     "... K times in a row (10: the PC gives up)"},
    {"drop-ack", &BoxFaults::dropAck, "=N", "stay silent instead of the Nth ACK"},
    {"drop-ack-times", &BoxFaults::dropAckTimes, "=K", "... and instead of the next K-1 ACKs due"},
    {"nak-ack", &BoxFaults::nakAck, "=N", "answer NAK instead of the Nth ACK"},
    {"nak-ack-times", &BoxFaults::nakAckTimes, "=K", "... and instead of the next K-1 ACKs due"},
    {"nak-header-always", &BoxFaults::nakHeaderAlways, "",
     "answer every downloaded header with NAK"},
    {"corrupt-frame", &BoxFaults::corruptFrame, "=N", "upload: damage a payload byte of frame N"},
    {"corrupt-frame-times", &BoxFaults::corruptFrameTimes, "=K",
     "... on K sends in a row (10: the PC gives up)"},
    {"bad-complement-frame", &BoxFaults::badComplementFrame, "=N",
     "upload: frame N with byte 2 equal to byte 1"},
    {"bad-header-crc", &BoxFaults::badHeaderCrc, "", "upload: the header with a wrong CRC"},
    {"bad-descriptor-crc", &BoxFaults::badDescriptorCrc, "=N",
     "upload: descriptor N with a wrong CRC"},
    {"bad-descriptor-crc-times", &BoxFaults::badDescriptorCrcTimes, "=K",
     "... on K sends in a row (10: the PC gives up)"},
    {"resend-acked-frame", &BoxFaults::resendAckedFrame, "=N",
     "upload: send frame N again after its ACK"},
    {"garbage-before-ready", &BoxFaults::garbageBeforeReady, "", "noise before the ready frame"},
    {"non-ready-first", &BoxFaults::nonReadyFirst, "", "02 04 00 03 in turn with the ready frame"},
    {"silent-at", &BoxFaults::silentAt, "=STEP", "stop answering at a step"},
    {"erase-fail-at", &BoxFaults::eraseFailAt, "=N", "an erase failure report for partition N"},
    {"program-fail-at", &BoxFaults::programFailAt, "=N",
     "a program failure report for partition N"},
    {"refuse-identity", &BoxFaults::refuseIdentity, "", "refuse every downloaded header"},
    {"vanish-at", &BoxFaults::vanishAt, "=STEP", "close the pseudo-terminal at a step"},
    {"back-to-back", &BoxFaults::backToBack, "=STEP", "in one write with the message before"},
    {"stall-read", &BoxFaults::stallRead, "=MS",
     "wait MS milliseconds before reading each message"},
    {"damage-received", &BoxFaults::damageReceived, "=KIND", "damage a message from the PC"},
    {"damage-received-nth", &BoxFaults::damageReceivedNth, "=N",
     "... the Nth of its kind (default the first)"},
    {"flip-after-program", &BoxFaults::flipAfterProgram, "=ADDRESS",
     "change the flash byte at ADDRESS after programming"},
    {"short-region", &BoxFaults::shortRegion, "=N", "upload: region N sent with half its size"},
}};

std::optional<int> PositiveNumber(std::string_view text) {
  return WholeNumberIn(text, 1, std::numeric_limits<int>::max());
}

// A flash address, decimal or 0x-prefixed hexadecimal, of a byte inside the flash.
std::optional<uint32_t> FlashAddress(std::string_view text) {
  const bool hex = text.starts_with("0x") || text.starts_with("0X");
  if (hex) text.remove_prefix(2);
  uint32_t address = 0;
  const auto [end, status] =
      std::from_chars(text.data(), text.data() + text.size(), address, hex ? 16 : 10);
  if (text.empty() || status != std::errc{} || end != text.data() + text.size() ||
      address < kFlashBase || address - kFlashBase >= kFlashSize) {
    return std::nullopt;
  }
  return address;
}

}  // namespace

std::optional<int> WholeNumberIn(std::string_view text, int low, int high) {
  int number = 0;
  const auto [end, status] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (status != std::errc{} || end != text.data() + text.size() || number < low || number > high) {
    return std::nullopt;
  }
  return number;
}

std::string_view FaultStepName(FaultStep step) {
  return kStepNames[size_t(step)];
}

bool ApplyFaultOption(std::string_view text, BoxFaults& faults, std::string& error) {
  const size_t equals = text.find('=');
  const std::string_view name = text.substr(0, equals);
  const bool hasValue = equals != std::string_view::npos;
  const std::string_view value = hasValue ? text.substr(equals + 1) : std::string_view{};
  const auto option = std::find_if(kOptions.begin(), kOptions.end(),
                                   [&](const FaultOption& o) { return o.name == name; });
  if (option == kOptions.end()) {
    error = "unknown fault '" + std::string(name) + "'";
    return false;
  }
  if (const auto* field = std::get_if<bool BoxFaults::*>(&option->field)) {
    if (hasValue) {
      error = "fault '" + std::string(name) + "' takes no value";
      return false;
    }
    faults.*(*field) = true;
    return true;
  }
  if (const auto* field = std::get_if<FaultStep BoxFaults::*>(&option->field)) {
    const auto values = ValuesOf(*field);
    const auto step = std::find_if(values.begin(), values.end(),
                                   [&](FaultStep s) { return FaultStepName(s) == value; });
    if (step == values.end()) {
      const bool steps = values.data() == kSteps.data();
      error =
          "fault '" + std::string(name) + "' needs " + (steps ? "a step: " : "") + Choices(values);
      return false;
    }
    faults.*(*field) = *step;
    return true;
  }
  if (const auto* field = std::get_if<std::chrono::milliseconds BoxFaults::*>(&option->field)) {
    const auto milliseconds = hasValue ? PositiveNumber(value) : std::nullopt;
    if (!milliseconds) {
      error = "fault '" + std::string(name) + "' needs a number of milliseconds";
      return false;
    }
    faults.*(*field) = std::chrono::milliseconds(*milliseconds);
    return true;
  }
  if (const auto* field = std::get_if<uint32_t BoxFaults::*>(&option->field)) {
    const auto address = FlashAddress(value);
    if (!address) {
      char range[64];
      std::snprintf(range, sizeof range, "0x%08X..0x%08X", unsigned(kFlashBase),
                    unsigned(kFlashBase + kFlashSize - 1));
      error = "fault '" + std::string(name) + "' needs a flash address in " + range;
      return false;
    }
    faults.*(*field) = *address;
    return true;
  }
  // A count that the help shows without a value ("bad-header-crc") means 1 when written bare; one
  // shown with its "=N" needs it: a bare "nak-frame" was most likely a value left out.
  const bool needsValue = !option->value.empty();
  const auto number = hasValue     ? PositiveNumber(value)
                      : needsValue ? std::nullopt
                                   : std::optional<int>(1);
  if (!number) {
    error = "fault '" + std::string(name) + "' needs a positive number";
    return false;
  }
  faults.*std::get<int BoxFaults::*>(option->field) = *number;
  return true;
}

std::string FaultOptionHelp() {
  constexpr size_t kColumn = 26;
  std::string help;
  for (const FaultOption& option : kOptions) {
    std::string usage = "  " + std::string(option.name) + std::string(option.value);
    usage.resize(std::max(kColumn, usage.size() + 1), ' ');
    help += usage + std::string(option.help);
    // A value other than a step is listed with its fault; the steps once, below.
    const auto* field = std::get_if<FaultStep BoxFaults::*>(&option.field);
    if (field && ValuesOf(*field).data() != kSteps.data()) {
      help += ":\n" + std::string(kColumn, ' ') + Choices(ValuesOf(*field));
    }
    help += "\n";
  }
  return help + "Steps: " + Choices(kSteps, ", ") + ".\n";
}

}  // namespace vn

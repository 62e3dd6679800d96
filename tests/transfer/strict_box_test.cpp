// The virtual box is as strict as a real box: it insists on every answer the PC owes, and it may
// send what a real box may send. These show what the PC then does.
#include <gtest/gtest.h>

#include <future>

#include "driver_session.h"

namespace vn::testing {
namespace {

using namespace std::chrono_literals;

struct OwedAnswer {
  const char* name;
  BoxFaults faults;
  const char* lastText;    // what the PC shows at the end
  const char* boxSummary;  // how the box's log sums the session up (its beginning)
};

class PcOwesTheBox : public ::testing::TestWithParam<OwedAnswer> {};

// The PC closes its port right after its last answer, before the slow box reads it: the ACK of
// the last frame, the tenth NAK of a frame that never passes, the verdict on a bad header.
TEST_P(PcOwesTheBox, ItsLastAnswerEvenWhenTheBoxIsSlowToRead) {
  const OwedAnswer& owed = GetParam();
  BoxOptions options;
  options.faults = owed.faults;
  options.faults.stallRead = 150ms;
  auto ended = std::make_shared<std::promise<std::string>>();
  auto once = std::make_shared<std::once_flag>();
  options.onSessionEnd = [ended, once](const BoxSessionReport& report) {
    std::call_once(*once, [&] { ended->set_value(report.summary); });
  };
  DriverSession session(options);

  session.Run(Operation::kUploadKey, session.scratch.File("key.dld"));
  session.station.Close();  // at once, as the command line does when the run ends

  ASSERT_FALSE(session.Statuses().empty());
  EXPECT_EQ(session.Statuses().back(), owed.lastText);
  auto summary = ended->get_future();
  ASSERT_EQ(summary.wait_for(15s), std::future_status::ready);
  EXPECT_EQ(summary.get().rfind(owed.boxSummary, 0), 0u);
  EXPECT_EQ(session.box.Stats().answersMissing, 0);
}

const OwedAnswer kOwed[] = {
    {"LastAck", {}, "Update Success!", "upload: regions sent 1"},
    {"TenthNak",
     {.corruptFrame = 1, .corruptFrameTimes = 10},
     "Transfer failed!",
     "abandoned: ten NAKs in a row for the data frame"},
    {"VerdictOnABadHeader", {.badHeaderCrc = 1}, "Ident check failed!", "upload refused by the PC"},
};
INSTANTIATE_TEST_SUITE_P(Answers, PcOwesTheBox, ::testing::ValuesIn(kOwed),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vn::testing

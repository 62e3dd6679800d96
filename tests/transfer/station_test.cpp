// The station: one run at a time on its port, and a stop that ends any wait of a run. (The result
// of a run that ended by itself, and its port left open, are the download tests'.)
#include <gtest/gtest.h>

#include <thread>

#include "driver_session.h"
#include "link/link_message.h"
#include "support/memory_port.h"

namespace vn::testing {
namespace {

constexpr vn::Operation kKeySet = vn::Operation::kUploadKey;

// Whether the run has shown `message` within a guard far beyond any machine's pace.
bool Shows(const RecordingObserver& observer, int message) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < until) {
    for (const LinkEvent& event : observer.Events()) {
      if (event.message == message) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

TEST(Station, RefusesASecondStartAndAStopEndsTheWaitForTheBox) {
  // The PC waits for the erase reports without a time limit.
  DriverSession session(BoxFaults{.silentAt = FaultStep::kErase});
  ASSERT_TRUE(session.opened);
  Station& station = session.station;
  const std::string file = session.PackedSet(kKeySet, 71);
  ASSERT_TRUE(station.ChooseDownloadFile(file));

  ASSERT_TRUE(station.Start({Operation::kDownload, file, 1}));
  EXPECT_FALSE(station.Start({Operation::kDownload, file, 1}));
  ASSERT_TRUE(Shows(session.observer, kMsgErase));
  EXPECT_TRUE(station.Running());

  EXPECT_TRUE(station.Stop());
  EXPECT_FALSE(station.Running());
  EXPECT_EQ(station.Result().end, LoopEnd::kStopped);
  EXPECT_EQ(station.Result().boxesDone, 0);
  EXPECT_EQ(station.Result().boxesFailed, 0);
  // The box a stop cut short has its outcome: stopped where the stop found it, failing nothing.
  const std::optional<BoxOutcome> outcome = station.LastOutcome();
  ASSERT_TRUE(outcome.has_value());
  EXPECT_EQ(outcome->result, BoxResult::kStopped);
  EXPECT_EQ(outcome->failureKind, BoxFailureKind::kStopped);
  EXPECT_EQ(outcome->phase, Phase::kErase);
  EXPECT_EQ(OutcomeReason(*outcome), "stopped before the box was done");
  EXPECT_EQ(session.observer.Outcomes().size(), 1u);
  EXPECT_FALSE(station.Stop());  // nothing left to stop
  // A stopped port takes no new run until it is opened again.
  EXPECT_FALSE(station.Start({Operation::kDownload, file, 1}));
}

// A port whose open fails with a notice of its own, as the Windows port's does when the system
// cannot make its events.
class NoticingPort final : public ComPort {
 public:
  bool OpenComPort(const std::string&) override { return false; }
  bool CloseComPort() override { return true; }
  bool PurgeComPort() override { return false; }
  int32_t ComWrite(const uint8_t*, int32_t) override { return -1; }
  int32_t ComReadExact(uint8_t*, int32_t) override { return -1; }
  int32_t ComReadSome(uint8_t*, int32_t) override { return -1; }
  bool PortOpened() const override { return false; }
  void RequestStop() override {}
  Failure LastOpenFailure() const override { return {.kind = FailureKind::kSetupFailed}; }
  std::string LastOpenNotice() const override { return "CreateEvent Error!"; }
  int32_t BytesWaiting() override { return -1; }
  void WaitForInput(std::chrono::microseconds) override {}
};

// A port that goes away while the station waits for a box fails no box: there is no outcome, and
// the run says why in the system's words.
TEST(Station, APortLostWhileNoBoxIsAttachedFailsNoBox) {
  RecordingObserver observer;
  auto [near, far] = MemoryPort::MakePair();
  Station station(std::move(near), observer, ".");
  ASSERT_TRUE(station.Start({kKeySet, "never-written.dld", 0}));
  ASSERT_TRUE(Shows(observer, kMsgConnecting));
  far.reset();  // the adapter pulled
  ASSERT_TRUE(station.WaitFor(std::chrono::seconds(10)));

  const LoopResult& result = station.Result();
  EXPECT_EQ(result.end, LoopEnd::kPortLost);
  EXPECT_FALSE(result.lostUnderBox);
  EXPECT_EQ(result.boxesFailed, 0);
  EXPECT_EQ(result.detail,
            "the port went away while no box was attached: the other end was closed");
  EXPECT_FALSE(station.LastOutcome().has_value());
  EXPECT_TRUE(observer.Outcomes().empty());
  const auto events = observer.Events();
  EXPECT_EQ(std::count_if(events.begin(), events.end(),
                          [](const LinkEvent& event) { return event.kind == EventKind::kFailure; }),
            0);
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [&](const LinkEvent& event) {
    return event.kind == EventKind::kWarning && event.text == result.detail;
  }));
}

TEST(Station, APortsNoticeReachesTheObserverAsAnEvent) {
  RecordingObserver observer;
  Station station(std::make_unique<NoticingPort>(), observer, ".");
  EXPECT_FALSE(station.Open("COM1"));
  const auto events = observer.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, EventKind::kNotice);
  EXPECT_EQ(events[0].text, "CreateEvent Error!");
}

}  // namespace
}  // namespace vn::testing

// The fault matrix: every fault the virtual box can inject, in each direction and at each step,
// against the operation driver over a pseudo-terminal. Each row must end recovered and
// successful, or failed with its step's text, or (where the tool waits for the box without a time
// limit) stopped by the user. Never in a success reported for a failure, a lost backup, or a file
// whose bytes differ from the box's. The virtual box is as strict as a real box besides: it
// insists on every answer the PC owes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cctype>
#include <future>

#include "driver_session.h"
#include "link/verify.h"
#include "sim/box_fault_option.h"

namespace vn::testing {
namespace {

using namespace std::chrono_literals;

// Two regions: a failure report for one of them is survivable.
constexpr vn::Operation kDefaultSet = vn::Operation::kUploadDefault;
// One region: a single failure report is fatal.
constexpr vn::Operation kKeySet = vn::Operation::kUploadKey;
// A wait without a time limit counts as ended by the user after this; a wait that ends by itself
// sooner must end with its step's failure text.
constexpr std::chrono::seconds kUserPatience{2};
// Ten lost answers cost the PC ten waits of 5 s.
constexpr std::chrono::seconds kLongestRow{90};

enum class Ending { kSucceeds, kFails, kWaitsForStop };
using enum FaultStep;

using Kind = BoxFailureKind;
using Kinds = std::vector<Kind>;

struct FaultRow {
  std::string name;
  Operation set;
  BoxFaults faults;
  Ending ending;
  std::vector<std::string> failureTexts;  // the acceptable last status texts of a failure
  Kinds kinds;          // the failure kinds the box's outcome may carry; a stop's besides
  bool inStep = false;  // a success without a time-out or a resend: nothing was lost
  std::chrono::milliseconds stallLimit{0};  // an unattended line's (--stall-timeout)
};

FaultRow Ok(std::string name, BoxFaults faults, Operation set = kDefaultSet) {
  return {std::move(name), set, faults, Ending::kSucceeds, {}, {}};
}
FaultRow Fails(std::string name, BoxFaults faults, std::vector<std::string> texts, Kinds kinds,
               Operation set = kDefaultSet) {
  return {std::move(name), set, faults, Ending::kFails, std::move(texts), std::move(kinds)};
}
FaultRow Waits(std::string name, BoxFaults faults, std::vector<std::string> texts,
               Kinds kinds = {}) {
  kinds.push_back(Kind::kStopped);
  return {std::move(name),       kDefaultSet,      faults,
          Ending::kWaitsForStop, std::move(texts), std::move(kinds)};
}
// On an unattended line, what would wait for the user fails at the stall limit.
FaultRow Stalls(std::string name, BoxFaults faults, std::vector<std::string> texts) {
  FaultRow row = Fails(std::move(name), faults, std::move(texts), {Kind::kStalled});
  row.stallLimit = 1500ms;
  return row;
}
// A success without a time-out or a resend.
FaultRow NothingLost(std::string name, BoxFaults faults) {
  return {std::move(name), kDefaultSet, faults, Ending::kSucceeds, {}, {}, true};
}

struct StepEnding {
  FaultStep step;                         // a step of the virtual box's session
  std::vector<std::string> failureTexts;  // what a failure there may end with
};

// A box silent at each step (waits the user may have to end) or vanishing there (failures).
std::vector<FaultRow> StepRows(bool vanish, const std::vector<StepEnding>& steps) {
  std::vector<FaultRow> rows;
  for (const StepEnding& at : steps) {
    BoxFaults faults;
    (vanish ? faults.vanishAt : faults.silentAt) = at.step;
    const std::string step(FaultStepName(at.step));
    std::string name = (vanish ? "VanishesAt" : "SilentAt") + step;
    name[name.size() - step.size()] = char(std::toupper(step[0]));
    // A box that vanishes takes its port with it; one that falls silent leaves the PC's waits
    // to run out, where they have a limit.
    rows.push_back(vanish ? Fails(name, faults, at.failureTexts, {Kind::kPortLost})
                          : Waits(name, faults, at.failureTexts, {Kind::kNoAnswer}));
  }
  return rows;
}

std::vector<FaultRow> Join(std::initializer_list<std::vector<FaultRow>> parts) {
  std::vector<FaultRow> rows;
  for (const auto& part : parts) rows.insert(rows.end(), part.begin(), part.end());
  return rows;
}

void PrintTo(const FaultRow& row, std::ostream* out) {
  *out << row.name;
}

// The box's outcome, told once at its end, against the row and the events: its kind one the row
// allows, the same as its failure event's, and a lost port's reason with the system's words.
void ExpectRowOutcome(const FaultRow& row, DriverSession& session, const LoopResult& result) {
  const auto outcomes = session.observer.Outcomes();
  ASSERT_EQ(outcomes.size(), 1u) << "one box, one outcome";
  const BoxOutcome& outcome = outcomes[0];
  EXPECT_EQ(session.station.LastOutcome().value_or(BoxOutcome{}).failureKind, outcome.failureKind);
  EXPECT_EQ(outcome.box, 1);
  if (result.boxesDone == 1) {
    EXPECT_EQ(outcome.result, BoxResult::kSuccess);
    EXPECT_EQ(outcome.failureKind, Kind::kNone);
    return;
  }
  const char* name = BoxFailureKindName(outcome.failureKind);
  EXPECT_TRUE(std::count(row.kinds.begin(), row.kinds.end(), outcome.failureKind))
      << (name ? name : "none") << " / " << OutcomeReason(outcome);
  EXPECT_EQ(outcome.result == BoxResult::kStopped, result.end == LoopEnd::kStopped);
  const auto events = session.observer.Events();
  const auto first = std::find_if(events.begin(), events.end(), [](const LinkEvent& event) {
    return event.kind == EventKind::kFailure;
  });
  if (outcome.result == BoxResult::kFailure && first != events.end()) {
    EXPECT_EQ(outcome.statusText, first->text);
    EXPECT_EQ(outcome.failureKind, first->failureKind);
  }
  if (outcome.failureKind == Kind::kPortLost) {
    // The system's words, as the record promises them.
    EXPECT_EQ(OutcomeReason(outcome).rfind("the port went away: ", 0), 0u)
        << OutcomeReason(outcome);
    EXPECT_EQ(result.end, LoopEnd::kPortLost);
    EXPECT_TRUE(result.lostUnderBox);
  }
}

// What every row must satisfy, whatever the fault; true when the run succeeded.
bool ExpectRowEnding(const FaultRow& row, DriverSession& session, const LoopResult& result) {
  ExpectRowOutcome(row, session, result);
  const auto texts = session.Statuses();
  EXPECT_FALSE(texts.empty());
  if (texts.empty()) return false;
  // A vanished port ends the loop as kPortLost rather than kFailed.
  const bool failedWithItsText =
      result.end != LoopEnd::kDone &&
      std::count(row.failureTexts.begin(), row.failureTexts.end(), texts.back());
  // Front ends read the failure from the events' fields, never from the text.
  const auto events = session.observer.Events();
  const auto failure = std::find_if(events.rbegin(), events.rend(), [](const LinkEvent& event) {
    return event.kind == EventKind::kFailure;
  });
  if (failure != events.rend() && failedWithItsText) {
    EXPECT_EQ(failure->text, texts.back());
    EXPECT_NE(failure->phase, Phase::kNone);
    EXPECT_NE(failure->failureKind, Kind::kNone);
  }
  switch (row.ending) {
    case Ending::kSucceeds:
      EXPECT_TRUE(failure == events.rend()) << failure->text;
      EXPECT_EQ(result.boxesDone, 1) << texts.back();
      EXPECT_FALSE(session.hung);
      if (row.inStep && !events.empty()) {
        EXPECT_EQ(events.back().link.timeouts, 0);
        EXPECT_EQ(events.back().link.framesResent, 0);
      }
      return result.boxesDone == 1;
    case Ending::kFails:
      EXPECT_TRUE(failedWithItsText) << texts.back();
      EXPECT_TRUE(failure != events.rend());
      EXPECT_FALSE(session.hung);
      break;
    case Ending::kWaitsForStop:
      EXPECT_TRUE((session.hung && result.end == LoopEnd::kStopped) || failedWithItsText)
          << texts.back();
      break;
  }
  EXPECT_EQ(result.boxesDone, 0);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Update Success!"), 0);
  return false;
}

const std::vector<std::string> kIdentFailed = {"Ident check failed!"};
const std::vector<std::string> kTransferFailed = {"Transfer failed!"};
const std::vector<std::string> kEraseFailed = {"Erase flash failed!"};
const std::vector<std::string> kProgramFailed = {"Program flash failed!"};
// A box that vanishes right after its last answer of a phase may take that answer with it.
const std::vector<std::string> kTransferOrEraseFailed = {"Transfer failed!", "Erase flash failed!"};
const std::vector<std::string> kEraseOrProgramFailed = {"Erase flash failed!",
                                                        "Program flash failed!"};

class DownloadFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(DownloadFault, EndsRecoveredOrFailedAndNeverFalselySucceeds) {
  const FaultRow& row = GetParam();
  DriverSession session(row.faults);
  const std::string file = session.PackedSet(row.set, 60);
  const auto guard = row.ending == Ending::kWaitsForStop ? kUserPatience : kLongestRow;
  session.options.stallLimit = row.stallLimit;

  const LoopResult result = session.Run(Operation::kDownload, file, 1, guard);

  if (!ExpectRowEnding(row, session, result)) return;
  session.ExpectFlashHolds(SampleFlashImage(60), UploadRegionList(row.set));
}

class UploadFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(UploadFault, EndsRecoveredOrFailedAndNeverLosesTheOldBackup) {
  const FaultRow& row = GetParam();
  DriverSession session(row.faults, SampleFlashImage(61));
  const std::string file = session.scratch.Write("backup.dld", kOldBackup);
  const auto guard = row.ending == Ending::kWaitsForStop ? kUserPatience : kLongestRow;

  const LoopResult result = session.Run(row.set, file, 1, guard);

  if (ExpectRowEnding(row, session, result)) {
    ExpectSoundUpload(ReadBytes(file), row.set, session.box.FlashCopy());
    return;
  }
  EXPECT_EQ(ReadBytes(file), kOldBackup);
  EXPECT_FALSE(PassesForABackup(ReadBytes(file + ".partial")))
      << "a partial file passes for a backup";
}

// Each row names only its own faults; the others keep their defaults (off).
const std::vector<FaultRow> kDownloadRows = {
    Ok("FrameNakedOnce", {.nakFrame = 1}),
    Ok("FrameNakedNineTimes", {.nakFrame = 3, .nakFrameTimes = 9}),
    Fails("FrameNakedTenTimes", {.nakFrame = 3, .nakFrameTimes = 10}, kTransferFailed,
          {Kind::kTooManyResends}),
    // The ACKs a download is answered with: 1 the header's, 2 the first descriptor's.
    Ok("HeaderNakedOnce", {.nakAck = 1}),
    Ok("HeaderNakedNineTimes", {.nakAck = 1, .nakAckTimes = 9}),
    // The PC sends its header for as long as it takes: the box may not be listening yet.
    Ok("HeaderNakedTenTimes", {.nakAck = 1, .nakAckTimes = 10}),
    Ok("HeaderAckLost", {.dropAck = 1}),
    Ok("HeaderAckLostTenTimes", {.dropAck = 1, .dropAckTimes = 10}),
    Ok("DescriptorNakedOnce", {.nakAck = 2}),
    Ok("DescriptorNakedNineTimes", {.nakAck = 2, .nakAckTimes = 9}),
    Fails("DescriptorNakedTenTimes", {.nakAck = 2, .nakAckTimes = 10}, kTransferFailed,
          {Kind::kTooManyResends}),
    Ok("DescriptorAckLost", {.dropAck = 2}),
    Ok("DescriptorAckLostNineTimes", {.dropAck = 2, .dropAckTimes = 9}),
    Fails("DescriptorAckLostTenTimes", {.dropAck = 2, .dropAckTimes = 10}, kTransferFailed,
          {Kind::kNoAnswer}),
    Ok("FrameAckLost", {.dropAck = 3}),
    Waits("HeaderAlwaysNaked", {.nakHeaderAlways = 1}, kIdentFailed),
    // NAKs keep the bytes moving, but nothing is acknowledged: no progress.
    Stalls("HeaderAlwaysNakedUnattended", {.nakHeaderAlways = 1}, kIdentFailed),
    Ok("GarbageBeforeReady", {.garbageBeforeReady = true}),
    Fails("IdentityRefused", {.refuseIdentity = true}, kIdentFailed, {Kind::kIdentityRefused}),
    // A byte damaged on the way to the box, in each kind of message the PC sends.
    Waits("StartCommandDamaged", {.damageReceived = kStart}, kIdentFailed),
    Ok("HeaderDamaged", {.damageReceived = kHeader}),
    Ok("DescriptorDamaged", {.damageReceived = kDescriptor}),
    Ok("FrameDamaged", {.damageReceived = kFrame, .damageReceivedNth = 2}),
    Ok("OneOfTwoErasesFails", {.eraseFailAt = 1}),
    Fails("TheOnlyEraseFails", {.eraseFailAt = 1}, kEraseFailed, {Kind::kEraseFailed}, kKeySet),
    Ok("OneOfTwoProgramsFails", {.programFailAt = 2}),
    Fails("TheOnlyProgramFails", {.programFailAt = 1}, kProgramFailed, {Kind::kProgramFailed},
          kKeySet),
    // Two messages the box sent close together, found waiting together by a PC kept from
    // looking between them: both count.
    NothingLost("TwoEraseReportsInOneWrite", {.backToBack = kErase}),
    NothingLost("TwoProgramReportsInOneWrite", {.backToBack = kProgram}),
    NothingLost("LastFrameAckAndEraseReportInOneWrite", {.backToBack = kFirstErase}),
    NothingLost("VerdictBehindTheHeaderAck", {.backToBack = kVerdict})};

const std::vector<FaultRow> kUploadRows = {
    Ok("FrameCorrupted", {.corruptFrame = 2}),
    Ok("FrameComplementWrong", {.badComplementFrame = 3}),
    Ok("DescriptorCrcWrong", {.badDescriptorCrc = 2}),
    Ok("DescriptorCrcWrongNineTimes", {.badDescriptorCrc = 2, .badDescriptorCrcTimes = 9}),
    Fails("DescriptorCrcWrongTenTimes", {.badDescriptorCrc = 2, .badDescriptorCrcTimes = 10},
          kTransferFailed, {Kind::kDamagedData}),
    Fails("HeaderCrcWrong", {.badHeaderCrc = 1}, kIdentFailed, {Kind::kDamagedData}),
    Fails("AckedFrameResent", {.resendAckedFrame = 2}, kTransferFailed, {Kind::kDamagedData}),
    Ok("RequestAckLost", {.dropAck = 1}),
    NothingLost("DescriptorBehindTheRequestAck", {.backToBack = kDescriptor}),
    Ok("GarbageBeforeReady", {.garbageBeforeReady = true}, kKeySet),
    // A byte damaged on the way to the box, in each kind of message the PC sends.
    Fails("StartCommandDamaged", {.damageReceived = kStart}, kIdentFailed, {Kind::kNoAnswer}),
    Fails("VerdictDamaged", {.damageReceived = kVerdict}, kTransferFailed, {Kind::kNoAnswer}),
    Ok("RequestDamaged", {.damageReceived = kRequest}),
    // The third answer is the first data frame's ACK: the box sends the frame again.
    Fails("FrameAckDamaged", {.damageReceived = kAnswer, .damageReceivedNth = 3}, kTransferFailed,
          {Kind::kDamagedData})};

// Where a box falls silent or vanishes, and what a failure there may end with.
const std::vector<StepEnding> kDownloadSilent = {
    {kStart, kIdentFailed},         {kHeader, kIdentFailed},   {kVerdict, kIdentFailed},
    {kDescriptor, kTransferFailed}, {kFrame, kTransferFailed}, {kErase, kEraseFailed},
    {kProgram, kProgramFailed}};
const std::vector<StepEnding> kDownloadVanished = {
    {kStart, kIdentFailed},           {kHeader, kIdentFailed},   {kVerdict, kIdentFailed},
    {kDescriptor, kTransferFailed},   {kFrame, kTransferFailed}, {kErase, kTransferOrEraseFailed},
    {kProgram, kEraseOrProgramFailed}};
const std::vector<StepEnding> kUploadSilent = {{kStart, kIdentFailed},
                                               {kHeader, kIdentFailed},
                                               {kRequest, kTransferFailed},
                                               {kDescriptor, kTransferFailed},
                                               {kFrame, kTransferFailed}};
const std::vector<StepEnding> kUploadVanished = {
    {kStart, kIdentFailed},      {kHeader, kIdentFailed},        {kVerdict, kTransferFailed},
    {kRequest, kTransferFailed}, {kDescriptor, kTransferFailed}, {kFrame, kTransferFailed}};

INSTANTIATE_TEST_SUITE_P(Matrix, DownloadFault,
                         ::testing::ValuesIn(Join({kDownloadRows, StepRows(false, kDownloadSilent),
                                                   StepRows(true, kDownloadVanished)})),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(Matrix, UploadFault,
                         ::testing::ValuesIn(Join({kUploadRows, StepRows(false, kUploadSilent),
                                                   StepRows(true, kUploadVanished)})),
                         [](const auto& info) { return info.param.name; });

// A verify reads the file's regions back from a box that holds the file's flash image, but for
// the byte at `faults.flipAfterProgram`, changed as that fault leaves it after a download.
struct VerifyRow {
  FaultRow row;
  uint32_t differsFrom = 0;  // the first region that differs, from this address; 0: none
  uint32_t bytesDiffering = 0;
};

void PrintTo(const VerifyRow& row, std::ostream* out) {
  *out << row.row.name;
}

// The verify of the file `set` made from image `seed`, on a box holding that image.
VerifyPlan PlanOf(const std::string& file) {
  VerifyPlan plan;
  Failure failure;
  EXPECT_TRUE(PlanVerify(ReadBytes(file), plan, failure)) << FailureText(failure);
  return plan;
}

class VerifyFault : public ::testing::TestWithParam<VerifyRow> {};

TEST_P(VerifyFault, ComparesEveryRegionAndNamesTheFirstThatDiffers) {
  const VerifyRow& verify = GetParam();
  const FaultRow& row = verify.row;
  std::vector<uint8_t> flash = SampleFlashImage(66);
  if (const uint32_t flip = row.faults.flipAfterProgram) flash[flip - kFlashBase] ^= 0xFF;
  DriverSession session(row.faults, flash);
  const std::string file = session.PackedSet(row.set, 66);
  auto task = std::make_shared<VerifyTask>(PlanOf(file));
  session.options.task = task;
  const auto guard = row.ending == Ending::kWaitsForStop ? kUserPatience : kLongestRow;

  const LoopResult result = session.Run(row.set, file, 1, guard);

  const bool succeeded = ExpectRowEnding(row, session, result);
  const auto checks = task->Checks();
  const auto regions = UploadRegionList(row.set);
  if (succeeded || verify.differsFrom != 0) {
    ASSERT_EQ(checks.size(), regions.size());
  }
  for (size_t i = 0; i < checks.size(); ++i) {
    EXPECT_EQ(checks[i].address, regions[i].address);
    EXPECT_EQ(checks[i].size, regions[i].size);
    const bool named = verify.differsFrom >= regions[i].address &&
                       verify.differsFrom - regions[i].address < regions[i].size;
    EXPECT_EQ(checks[i].bytesDiffering, named ? verify.bytesDiffering : 0u) << i;
    if (named) {
      EXPECT_EQ(checks[i].firstDiffering, verify.differsFrom);
    }
  }
  // Reading back writes nothing: the box's flash is as it was.
  EXPECT_EQ(session.box.FlashCopy(), flash);
}

std::string DiffersFrom(uint32_t address) {
  char text[40];
  std::snprintf(text, sizeof text, "Verify failed at 0x%08X!", unsigned(address));
  return text;
}

VerifyRow Differs(std::string name, BoxFaults faults, uint32_t from, uint32_t bytes,
                  Operation set = kDefaultSet) {
  return {Fails(std::move(name), faults, {DiffersFrom(from)}, {Kind::kContentDiffers}, set), from,
          bytes};
}

const std::vector<VerifyRow> kVerifyRows = {
    {Ok("Matches", {})},
    {Ok("MatchesAllRegions", {}, Operation::kUploadAll)},
    Differs("ByteChangedMidRegion", {.flipAfterProgram = 0x401A8123}, 0x401A8123, 1),
    Differs("LastByteChanged", {.flipAfterProgram = 0x401AFFFF}, 0x401AFFFF, 1),
    Differs("OnlyRegionsFirstByteChanged", {.flipAfterProgram = 0x40180000}, 0x40180000, 1,
            kKeySet),
    // The box answers the second region with half of it: the rest is missing.
    Differs("RegionCutShort", {.shortRegion = 2}, 0x401A8000, 0x8000),
    {Ok("DescriptorCrcWrong", {.badDescriptorCrc = 2})},
    {Ok("DescriptorCrcWrongNineTimes", {.badDescriptorCrc = 2, .badDescriptorCrcTimes = 9})},
    {Fails("DescriptorCrcWrongTenTimes", {.badDescriptorCrc = 2, .badDescriptorCrcTimes = 10},
           kTransferFailed, {Kind::kDamagedData})},
    {Ok("FrameCorrupted", {.corruptFrame = 2})},
    {Fails("HeaderCrcWrong", {.badHeaderCrc = 1}, kIdentFailed, {Kind::kDamagedData})},
    {Fails("AckedFrameResent", {.resendAckedFrame = 2}, kTransferFailed, {Kind::kDamagedData})},
    {Fails("VanishesAtDescriptor", {.vanishAt = kDescriptor}, kTransferFailed, {Kind::kPortLost})},
    {Fails("VanishesAtFrame", {.vanishAt = kFrame}, kTransferFailed, {Kind::kPortLost})},
    {Waits("SilentAtFrame", {.silentAt = kFrame}, kTransferFailed, {Kind::kNoAnswer})},
};

INSTANTIATE_TEST_SUITE_P(Matrix, VerifyFault, ::testing::ValuesIn(kVerifyRows),
                         [](const auto& info) { return info.param.row.name; });

// What a production line does: a download that the box reports programmed, then a verify of the
// same file on the same box, which finds the one byte the flash did not keep.
TEST(VerifyAfterDownload, FindsAByteTheFlashDidNotKeep) {
  for (const uint32_t flip : {0u, 0x40188000u}) {
    SCOPED_TRACE(flip);
    DriverSession session(BoxFaults{.flipAfterProgram = flip});
    const std::string file = session.PackedSet(kKeySet, 67);
    EXPECT_EQ(session.Run(Operation::kDownload, file).boxesDone, 1);
    ASSERT_TRUE(session.BoxFinished(1));
    session.observer.Clear();
    session.options.task = std::make_shared<VerifyTask>(PlanOf(file));

    const LoopResult result = session.Run(kKeySet, file);

    EXPECT_EQ(result.boxesDone, flip == 0 ? 1 : 0);
    EXPECT_EQ(session.Statuses().back(), flip == 0 ? kVerifySuccessText : DiffersFrom(flip));
  }
}

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

const OwedAnswer kOwed[] = {{"LastAck", {}, "Update Success!", "upload: regions sent 1"},
                            {"TenthNak",
                             {.corruptFrame = 1, .corruptFrameTimes = 10},
                             "Transfer failed!",
                             "abandoned: ten NAKs in a row for the data frame"},
                            {"VerdictOnABadHeader",
                             {.badHeaderCrc = 1},
                             "Ident check failed!",
                             "upload refused by the PC"}};
INSTANTIATE_TEST_SUITE_P(Answers, PcOwesTheBox, ::testing::ValuesIn(kOwed),
                         [](const auto& info) { return std::string(info.param.name); });

// The box's wrong first frame and its ready frame take turns, so which one a connect meets
// depends on timing: every connect must either go on to a success or end in "Connect failed!".
TEST(ConnectFault, AWrongFirstFrameFailsTheConnectAndNothingElse) {
  DriverSession session(BoxFaults{.nonReadyFirst = true});
  const std::string file = session.PackedSet(kKeySet, 62);
  bool connectFailed = false;
  for (int attempt = 0; attempt < 8 && !connectFailed; ++attempt) {
    session.observer.Clear();
    const LoopResult result = session.Run(Operation::kDownload, file);
    const auto texts = session.Statuses();
    ASSERT_FALSE(texts.empty());
    if (result.end == LoopEnd::kFailed) {
      EXPECT_EQ(texts, (std::vector<std::string>{"Connectting...", "Connect failed!"}));
      connectFailed = true;
    } else {
      EXPECT_EQ(texts.back(), "Update Success!");
    }
  }
  EXPECT_TRUE(connectFailed);
}

// A file rewritten in place or replaced by another after it was chosen, and again between the two
// boxes of a run: both boxes get the file chosen, header and partitions, and nothing of the others.
TEST(FileFault, AFileReplacedAfterItWasChosenNeverReachesABox) {
  const auto regions = UploadRegionList(kKeySet);
  const std::vector<uint8_t> chosen = SampleFlashImage(63);
  FileIdentity stranger = LabBoxIdentity();
  stranger.hardwareModule = "OTHER";
  // One the box would refuse, and one it would take.
  const std::vector<uint8_t> refused = BuildUpgradeFile(regions, SampleFlashImage(64), stranger);
  const std::vector<uint8_t> taken =
      BuildUpgradeFile(regions, SampleFlashImage(65), LabBoxIdentity());
  for (const bool inPlace : {true, false}) {
    SCOPED_TRACE(inPlace ? "rewritten in place" : "renamed over");
    ScratchFolder folder;
    const std::string file =
        folder.Write("key.dld", BuildUpgradeFile(regions, chosen, LabBoxIdentity()));
    const auto replace = [&](const std::vector<uint8_t>& bytes) {
      if (inPlace) {
        folder.Write("key.dld", bytes);
      } else {
        std::filesystem::rename(folder.Write("other.dld", bytes), file);
      }
    };
    BoxOptions options;
    int sessionsEnded = 0;  // on the box's thread
    options.onSessionEnd = [&](const BoxSessionReport&) {
      if (++sessionsEnded == 1) replace(taken);
    };
    DriverSession session(options);
    session.afterChoose = [&] { replace(refused); };
    const LoopResult result = session.Run(Operation::kDownload, file, 2);
    EXPECT_EQ(result.boxesDone, 2);
    EXPECT_NE(result.end, LoopEnd::kFailed);
    const auto texts = session.Statuses();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Update Success!"), 2);
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "Connectting..."), 2);
    session.ExpectFlashHolds(chosen, regions, 2);
  }
}

// The window's file dialog lets a FIFO through; opening it to read must not wait for a writer.
TEST(FileFault, AFifoChosenForDownloadFailsAtOnce) {
  DriverSession session;
  const std::string fifo = session.scratch.File("pipe.dld");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const LoopResult result = session.Run(Operation::kDownload, fifo);
  EXPECT_EQ(result.end, LoopEnd::kFailed);
  EXPECT_FALSE(session.hung);
  EXPECT_EQ(session.Statuses().back(), "Ident check failed!");
}

}  // namespace
}  // namespace vn::testing

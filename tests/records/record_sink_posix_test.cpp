// The spool: a record the database cannot take waits, in order, and goes in before the next one
// once the database answers; nothing is lost and nothing is written twice.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "records/record_sink.h"
#include "support/sample_files.h"
#include "support/scratch_folder.h"

namespace vn::testing {
namespace {

using json = nlohmann::ordered_json;

// A database that can be made to refuse, and that remembers what it took.
class FlakyStore : public RecordStore {
 public:
  explicit FlakyStore(std::vector<int>& taken, bool& down) : taken_(taken), down_(down) {}
  Failure Open() override { return down_ ? Refusal() : Failure{}; }
  Failure Write(const json& record) override {
    if (down_) return Refusal();
    taken_.push_back(record["box"].get<int>());
    return {};
  }
  bool Spools() const override { return true; }

 private:
  static Failure Refusal() {
    return FailureSaying(FailureKind::kOther, "server closed the connection unexpectedly");
  }
  std::vector<int>& taken_;
  bool& down_;
};

class RecordSinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ::setenv("XDG_STATE_HOME", state_.Path().c_str(), 1);
    target_ = ParseRecordTarget("postgresql://line@db.example/line");
  }
  void TearDown() override { ::unsetenv("XDG_STATE_HOME"); }

  std::unique_ptr<RecordSink> Sink() {
    return std::make_unique<RecordSink>(target_, std::make_unique<FlakyStore>(taken_, down_));
  }
  static json Box(int n) { return {{"box", n}, {"result", "success"}}; }

  ScratchFolder state_;
  RecordTarget target_;
  std::vector<int> taken_;
  bool down_ = false;
};

TEST_F(RecordSinkTest, AnOutageSpoolsInOrderAndTheNextRecordWaitsBehind) {
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  EXPECT_TRUE(sink->Deliver(Box(1)).say.empty());
  down_ = true;
  const RecordSink::Outcome first = sink->Deliver(Box(2));
  EXPECT_FALSE(first.lost);
  const std::string spool = state_.Path() + "/vespanode/spool/";
  EXPECT_NE(first.say.find("server closed the connection"), std::string::npos) << first.say;
  EXPECT_NE(first.say.find(spool), std::string::npos) << "names the spool: " << first.say;
  EXPECT_TRUE(sink->Deliver(Box(3)).say.empty()) << "said once per outage";
  struct stat info;
  ASSERT_EQ(::stat((state_.Path() + "/vespanode/spool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  down_ = false;
  const RecordSink::Outcome back = sink->Deliver(Box(4));
  EXPECT_NE(back.say.find("2 spooled record(s) written"), std::string::npos) << back.say;
  EXPECT_EQ(taken_, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(sink->Finish().say.empty());
  EXPECT_EQ(sink->Left(), 0);
}

TEST_F(RecordSinkTest, RecordsStillSpooledAtTheEndAreNamedAndFlushedLater) {
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  down_ = true;
  sink->Deliver(Box(1));
  sink->Deliver(Box(2));
  const RecordSink::Outcome end = sink->Finish();
  EXPECT_EQ(sink->Left(), 2);
  EXPECT_NE(end.say.find("2 record(s) for postgresql://line@db.example/line wait in"),
            std::string::npos)
      << end.say;
  EXPECT_NE(end.say.find("records flush"), std::string::npos) << end.say;
  // The next run (or `records flush`) writes them first, in order.
  down_ = false;
  auto next = Sink();
  ASSERT_FALSE(next->Open().Failed());
  next->Deliver(Box(3));
  EXPECT_EQ(taken_, (std::vector<int>{1, 2, 3}));
  next->Finish();
  EXPECT_EQ(next->Left(), 0);
}

TEST_F(RecordSinkTest, ASpoolFolderOthersCanReachIsNotUsedAndTheRecordIsPrinted) {
  const std::string folder = state_.Path() + "/vespanode";
  ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
  ::chmod(folder.c_str(), 0755);
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  down_ = true;
  const RecordSink::Outcome outcome = sink->Deliver(Box(1));
  EXPECT_TRUE(outcome.lost);
  EXPECT_NE(outcome.say.find("cannot use the spool folder"), std::string::npos) << outcome.say;
  EXPECT_NE(outcome.say.find("the record follows"), std::string::npos) << outcome.say;
}

TEST_F(RecordSinkTest, APasswordInTheUrlIsWarnedOfWithoutShowingIt) {
  const RecordTarget target = ParseRecordTarget("postgresql://line:hunter2@db/line");
  const std::string warning = PasswordWarning(target);
  EXPECT_NE(warning.find("carries a password"), std::string::npos);
  EXPECT_EQ(warning.find("hunter2"), std::string::npos);
  EXPECT_TRUE(PasswordWarning(target_).empty());
}

}  // namespace
}  // namespace vn::testing

// The spool: a record the database cannot take waits, in order, and goes in before the next one
// once the database answers; nothing is lost and nothing is written twice.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

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

  // What the sink tells lands in said_ (and a lost record in lost_), from its writer's thread:
  // read them after Settle or Finish.
  std::unique_ptr<RecordSink> Sink() {
    return std::make_unique<RecordSink>(target_, std::make_unique<FlakyStore>(taken_, down_),
                                        [this](const std::string& say, const json* lost) {
                                          said_.push_back(say);
                                          if (lost) lost_.push_back(*lost);
                                        });
  }
  // Deliver, and wait until the record is in the store or the spool.
  static void Deliver(RecordSink& sink, int box) {
    EXPECT_TRUE(sink.Deliver(Box(box)).say.empty());
    sink.Settle();
  }
  static json Box(int n) { return {{"box", n}, {"result", "success"}}; }
  std::string Said() const {
    std::string all;
    for (const std::string& say : said_) all += say + "\n";
    return all;
  }

  ScratchFolder state_;
  RecordTarget target_;
  std::vector<int> taken_;
  bool down_ = false;
  std::vector<std::string> said_;
  std::vector<json> lost_;
};

TEST_F(RecordSinkTest, AnOutageSpoolsInOrderAndTheNextRecordWaitsBehind) {
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  Deliver(*sink, 1);
  EXPECT_TRUE(said_.empty());
  down_ = true;
  Deliver(*sink, 2);
  ASSERT_EQ(said_.size(), 1u);
  const std::string spool = state_.Path() + "/vespanode/spool/";
  EXPECT_NE(said_[0].find("server closed the connection"), std::string::npos) << said_[0];
  EXPECT_NE(said_[0].find(spool), std::string::npos) << "names the spool: " << said_[0];
  Deliver(*sink, 3);
  EXPECT_EQ(said_.size(), 1u) << "said once per outage";
  struct stat info;
  ASSERT_EQ(::stat((state_.Path() + "/vespanode/spool").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  down_ = false;
  Deliver(*sink, 4);
  EXPECT_NE(Said().find("2 spooled record(s) written"), std::string::npos) << Said();
  EXPECT_EQ(taken_, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(sink->Finish().say.empty());
  EXPECT_EQ(sink->Left(), 0);
}

TEST_F(RecordSinkTest, RecordsStillSpooledAtTheEndAreNamedAndFlushedLater) {
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  down_ = true;
  Deliver(*sink, 1);
  Deliver(*sink, 2);
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
  EXPECT_EQ(next->Replayed(), 2);
  Deliver(*next, 3);
  EXPECT_EQ(taken_, (std::vector<int>{1, 2, 3}));
  next->Finish();
  EXPECT_EQ(next->Left(), 0);
}

// Where a record cannot be spooled it is told whole, and counted, so that the run fails: a spool
// folder others can reach, or a link put in the spool's place (never followed).
TEST_F(RecordSinkTest, ARecordThatCannotBeSpooledIsToldWholeAndFailsTheRun) {
  const std::string spool = RecordSpool(target_).Path();
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* says;
  };
  const std::string elsewhere = state_.File("elsewhere.jsonl");
  const Case cases[] = {
      {"a link in the spool's place",
       [&] {
         std::filesystem::create_directories(std::filesystem::path(spool).parent_path());
         ::chmod((state_.Path() + "/vespanode").c_str(), 0700);
         ::chmod(std::filesystem::path(spool).parent_path().c_str(), 0700);
         std::filesystem::create_symlink(elsewhere, spool);
       },
       "is a link, which is not followed"},
      {"a spool folder others can reach",
       [&] {
         std::filesystem::remove(spool);
         ::chmod((state_.Path() + "/vespanode").c_str(), 0755);
       },
       "cannot use the spool folder"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    said_.clear();
    lost_.clear();
    auto sink = Sink();
    down_ = false;
    ASSERT_FALSE(sink->Open().Failed());
    down_ = true;
    Deliver(*sink, 1);
    EXPECT_EQ(sink->Lost(), 1);
    EXPECT_NE(Said().find(c.says), std::string::npos) << Said();
    EXPECT_NE(Said().find("the record follows"), std::string::npos) << Said();
    EXPECT_EQ(lost_, std::vector<json>{Box(1)});
    EXPECT_FALSE(std::filesystem::exists(elsewhere)) << "written through the link";
  }
}

// A line that is no record is moved aside and named; the records before and after it go in.
TEST_F(RecordSinkTest, ALineThatIsNoRecordIsMovedAsideAndTheRestGoIn) {
  const RecordSpool spool(target_);
  down_ = true;
  {
    auto sink = Sink();
    sink->Deliver(Box(1));
    sink->Deliver(Box(3));
  }
  std::string text = ReadText(spool.Path());
  text.insert(text.find('\n') + 1, "{\"box\": 2, half a record\n");
  ASSERT_TRUE(WriteBytes(spool.Path(), {text.begin(), text.end()}));
  down_ = false;
  auto sink = Sink();
  ASSERT_FALSE(sink->Open().Failed());
  EXPECT_EQ(taken_, (std::vector<int>{1, 3}));
  EXPECT_NE(Said().find("1 line(s) of " + spool.Path() + " held no record: moved to " +
                        spool.RejectedPath()),
            std::string::npos)
      << Said();
  EXPECT_EQ(ReadText(spool.RejectedPath()), "{\"box\": 2, half a record\n");
  EXPECT_EQ(sink->Finish().say, "");
  EXPECT_EQ(sink->Left(), 0);
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

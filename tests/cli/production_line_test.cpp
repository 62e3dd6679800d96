// Several ports served at once by vespanode-cli: each port's boxes, records and events stand on
// their own, whatever happens on the others.
#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>

#include "dld/region_sets.h"
#include "sim/pty_line.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

using Json = nlohmann::json;

std::vector<Json> JsonLines(const std::string& text) {
  std::vector<Json> objects;
  for (const std::string& line : Lines(text)) {
    objects.push_back(Json::parse(line, nullptr, false));
    EXPECT_FALSE(objects.back().is_discarded()) << line;
  }
  return objects;
}

// Three boxes at once, two each with --keep-going: a good box that NAKs one frame, a box that
// refuses the first file and takes the second, and a box pulled off its port mid-transfer.
TEST(ProductionLine, ThreeBoxesAtOnceEachWithItsOwnOutcomeRecordAndEvents) {
  BoxOptions nakOnce;
  nakOnce.beforeSession = [](int session, BoxFaults& faults, std::vector<uint8_t>&) {
    faults.nakFrame = session == 1 ? 2 : 0;
  };
  VirtualBox good(nakOnce);
  BoxOptions refuseFirst;
  refuseFirst.beforeSession = [](int session, BoxFaults& faults, std::vector<uint8_t>&) {
    faults.refuseIdentity = session == 1;
  };
  VirtualBox picky(refuseFirst);
  BoxOptions pulled;
  pulled.faults.vanishAt = FaultStep::kFrame;
  VirtualBox gone(pulled);
  ASSERT_TRUE(good.Start() && picky.Start() && gone.Start());

  ScratchFolder folder;
  const std::string file = folder.Write("data.dld", SampleUpgradeFile(Operation::kUploadData, 31));
  const std::string record = folder.File("line.jsonl");
  const ChildResult run =
      RunCli({"download", "--port", good.PtyPath(), "--port", picky.PtyPath(), "--port",
              gone.PtyPath(), "--boxes", "2", "--keep-going", "--record", record, "--json", file});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 1) << run.err;

  // What each box saw.
  EXPECT_TRUE(good.WaitSessions(2, std::chrono::seconds(10)));
  EXPECT_TRUE(picky.WaitSessions(1, std::chrono::seconds(10)));
  EXPECT_EQ(good.Stats().downloadsDone, 2);
  EXPECT_EQ(good.Stats().naksSent, 1);
  EXPECT_EQ(picky.Stats().downloadsDone, 1);
  EXPECT_EQ(picky.Stats().identityRefusals, 1);
  EXPECT_EQ(gone.Stats().downloadsDone, 0);

  // The events: in order per port, one box after another, a summary at the end of each.
  std::map<std::string, int> lastBox;
  std::map<std::string, Json> summaries;
  for (const Json& object : JsonLines(run.out)) {
    ASSERT_EQ(object.value("schema", 0), 3);
    const std::string port = object.value("port", "");
    ASSERT_EQ(summaries.count(port), 0u) << "nothing after a port's summary";
    const std::string type = object.value("type", "");
    if (type == "summary") summaries[port] = object;
    if (type != "event") continue;
    const int box = object["box"].get<int>();
    EXPECT_GE(box, lastBox[port]) << object;
    EXPECT_TRUE(object["kind"] != "success" || object["message"] == 24) << object;
    if (object["kind"] == "failure") {
      EXPECT_TRUE(object["failureKind"].is_string()) << object;
    }
    if (box > lastBox[port]) {
      EXPECT_EQ(object["text"], "Connectting...") << "a box's events begin with the wait for it";
    }
    lastBox[port] = box;
  }
  ASSERT_EQ(summaries.size(), 3u);
  EXPECT_EQ(summaries[good.PtyPath()]["boxesDone"], 2);
  EXPECT_EQ(summaries[picky.PtyPath()]["boxesDone"], 1);
  EXPECT_EQ(summaries[picky.PtyPath()]["boxesFailed"], 1);
  EXPECT_EQ(summaries[gone.PtyPath()]["boxesFailed"], 1);
  EXPECT_EQ(summaries[gone.PtyPath()]["portLost"], true);
  EXPECT_TRUE(summaries[good.PtyPath()]["detail"].is_null());
  EXPECT_EQ(summaries[gone.PtyPath()]["detail"].get<std::string>().rfind(
                "the port went away under box 1: ", 0),
            0u)
      << summaries[gone.PtyPath()];

  // The record: one whole line per box served, against what the boxes saw.
  std::map<std::string, std::vector<Json>> byPort;
  for (const Json& line : JsonLines(ReadText(record))) byPort[line["port"]].push_back(line);
  ASSERT_EQ(byPort[good.PtyPath()].size(), 2u);
  ASSERT_EQ(byPort[picky.PtyPath()].size(), 2u);
  ASSERT_EQ(byPort[gone.PtyPath()].size(), 1u);
  const Json& first = byPort[good.PtyPath()][0];
  EXPECT_EQ(first["result"], "success");
  EXPECT_EQ(first["header"]["softwareVersion"], LabBoxIdentity().softwareVersion);
  EXPECT_EQ(first["sha256"].get<std::string>().size(), 64u);
  EXPECT_EQ(first["naksReceived"], 1);
  EXPECT_EQ(first["framesResent"], 1);
  EXPECT_GT(first["bytesSent"].get<int64_t>(), int64_t(ReadBytes(file).size()));
  EXPECT_EQ(byPort[good.PtyPath()][1]["naksReceived"], 0) << "each box's tallies are its own";
  EXPECT_EQ(byPort[picky.PtyPath()][0]["failure"], "Ident check failed!");
  EXPECT_EQ(byPort[picky.PtyPath()][0]["failureKind"], "identity-refused");
  EXPECT_TRUE(byPort[picky.PtyPath()][1]["failureKind"].is_null());
  EXPECT_EQ(byPort[gone.PtyPath()][0]["failureKind"], "port-lost");
  EXPECT_NE(first["recordId"], byPort[good.PtyPath()][1]["recordId"]);
  EXPECT_EQ(byPort[picky.PtyPath()][0]["phase"], "verify");
  EXPECT_EQ(byPort[picky.PtyPath()][1]["result"], "success");
  EXPECT_EQ(byPort[gone.PtyPath()][0]["failure"], "Transfer failed!");
  EXPECT_EQ(byPort[gone.PtyPath()][0]["phase"], "transfer");
  // The system's words follow, as the README promises.
  EXPECT_EQ(byPort[gone.PtyPath()][0]["reason"].get<std::string>().rfind("the port went away: ", 0),
            0u)
      << byPort[gone.PtyPath()][0];
}

// Ports that cannot be opened still end the stream with a reason and a summary each, though the
// run exits 2 as before; one that goes away while no box is attached fails no box and writes no
// record, and its summary says so.
TEST(ProductionLine, EveryPortEndsWithASummaryAndADetail) {
  ScratchFolder folder;
  const std::string file = folder.Write("key.dld", SampleUpgradeFile(Operation::kUploadKey, 41));
  const std::string record = folder.File("line.jsonl");
  const std::string missing = folder.File("ttyMISSING");
  const std::string aFolder = folder.Path();
  const ChildResult none = RunCli(
      {"download", "--port", missing, "--port", aFolder, "--json", "--record", record, file});
  EXPECT_EQ(none.exitCode, 2) << none.err;
  std::map<std::string, Json> summaries;
  std::map<std::string, Json> details;
  for (const Json& object : JsonLines(none.out)) {
    if (object["type"] == "summary") summaries[object["port"]] = object;
    if (object["type"] == "detail") details[object["port"]] = object;
  }
  ASSERT_EQ(summaries.size(), 2u) << none.out;
  for (const std::string& port : {missing, aFolder}) {
    SCOPED_TRACE(port);
    EXPECT_EQ(summaries[port]["opened"], false);
    EXPECT_EQ(summaries[port]["boxesFailed"], 0);
    EXPECT_EQ(summaries[port]["detail"].get<std::string>().rfind("cannot open port " + port, 0),
              0u);
    EXPECT_EQ(details[port]["what"], "error");
    EXPECT_EQ(details[port]["text"], summaries[port]["detail"]);
  }
  EXPECT_NE(summaries[aFolder]["detail"].get<std::string>().find("a folder"), std::string::npos);

  PtyLine line;  // a port with nobody on the other end yet, pulled while the tool waits
  Failure failure;
  ASSERT_TRUE(line.Open(failure)) << FailureText(failure);
  ChildOptions options;
  options.onLine = [&line](const std::string& text, int) {
    if (text.find("Connectting...") != std::string::npos) line.Close();
  };
  const ChildResult lost = RunCli(
      {"download", "--port", line.SlavePath(), "--boxes", "0", "--json", "--record", record, file},
      options);
  EXPECT_FALSE(lost.timedOut);
  EXPECT_EQ(lost.exitCode, 1) << lost.err;
  EXPECT_TRUE(ReadText(record).empty()) << "no box, no record";
  const std::vector<Json> objects = JsonLines(lost.out);
  ASSERT_FALSE(objects.empty());
  const Json& summary = objects.back();
  EXPECT_EQ(summary["type"], "summary");
  EXPECT_EQ(summary["portLost"], true);
  EXPECT_EQ(summary["boxesFailed"], 0);
  const std::string detail = summary["detail"];
  EXPECT_EQ(detail.rfind("the port went away while no box was attached: ", 0), 0u) << detail;
  for (const Json& object : objects) EXPECT_NE(object.value("kind", ""), "failure") << object;
}

}  // namespace
}  // namespace vn::testing

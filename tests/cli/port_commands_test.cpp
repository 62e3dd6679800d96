// vespanode-cli ports: the COM names, and a running virtual box, in text and in JSON.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "link/box_announce.h"
#include "platform/processes.h"
#include "platform/text_format.h"
#include "sim/virtual_box.h"
#include "support/child_process.h"
#include "support/sample_files.h"

namespace vn::testing {
namespace {

TEST(CliPorts, ListsComNamesAndTheRunningVirtualBox) {
  ScratchFolder runtime;
  const RuntimeFolderAt announcedThere(runtime.Path());
  VirtualBox box;
  ASSERT_TRUE(box.Start());
  ASSERT_TRUE(AnnounceBox(box.PtyPath()));
  // A device whose name is not UTF-8, announced for a live process (this test's parent).
  const std::string odd = runtime.Path() + "/pts-\xFF\xFE";
  std::ofstream(odd) << "";
  std::ofstream(PrivateRuntimeFolder() + "/box-" + std::to_string(getppid())) << odd << "\n";
  const std::string oddHex = HexBytes(odd);

  const ChildResult json = RunCli({"ports", "--json"});
  const ChildResult text = RunCli({"ports"});
  WithdrawBox();

  ASSERT_EQ(json.exitCode, 0) << json.err;
  const auto survey = nlohmann::json::parse(json.out, nullptr, false);
  ASSERT_FALSE(survey.is_discarded()) << json.out;
  ASSERT_EQ(survey["comNames"].size(), 10u);
  EXPECT_EQ(survey["comNames"][2]["name"], "COM3");
  EXPECT_EQ(survey["comNames"][2]["windowName"], "COM.03");
  EXPECT_EQ(survey["comNames"][2]["device"], "/dev/ttyS2");
  EXPECT_TRUE(survey["comNames"][2]["exists"].is_boolean());
  EXPECT_TRUE(survey["usbAdapters"].is_array());
  ASSERT_EQ(survey["virtualBoxes"].size(), 2u);
  const bool boxFirst = box.PtyPath() < odd;
  const auto& real = survey["virtualBoxes"][boxFirst ? 0 : 1];
  const auto& foreign = survey["virtualBoxes"][boxFirst ? 1 : 0];
  EXPECT_EQ(real["device"], box.PtyPath());
  EXPECT_FALSE(real.contains("deviceBytes"));
  // The name shows with U+FFFD, and exactly in its bytes beside it.
  EXPECT_EQ(foreign["device"], runtime.Path() + "/pts-\uFFFD\uFFFD");
  EXPECT_EQ(foreign["deviceBytes"], oddHex);

  ASSERT_EQ(text.exitCode, 0) << text.err;
  const std::string boxes = text.out.substr(text.out.find("Virtual boxes:"));
  EXPECT_NE(boxes.find(box.PtyPath()), std::string::npos) << text.out;
}

}  // namespace
}  // namespace vn::testing

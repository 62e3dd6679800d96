// The port survey: every COM name with its device, each device once, USB adapters told apart by
// their identity, and names a person recognises.
#include <gtest/gtest.h>

#include "link/port_survey.h"

namespace vn {
namespace {

PortInfo Adapter(const std::string& path, const std::string& serial) {
  PortInfo port{path, "FT232R USB UART - FT232R USB UART"};
  port.usb = true;
  port.vendorId = 0x0403;
  port.productId = 0x6001;
  port.manufacturer = "FTDI";
  port.product = "FT232R USB UART";
  port.serial = serial;
  return port;
}

TEST(PortSurveyTest, SortsEachDeviceOnceIntoItsSection) {
  const std::string com2 = ComDeviceName("COM2");
  const std::vector<PortInfo> reported = {
      {com2, "ttyS1"},
      Adapter("/dev/ttyUSB0", "A1"),
      {"/dev/ttyAMA0", "ttyAMA0"},
      Adapter("/dev/ttyUSB0", "A1"),  // reported twice
  };
  const PortSurvey survey =
      ComposePortSurvey(reported, {"/dev/pts/4", "/dev/ttyUSB0"},
                        [&com2](const std::string& path) { return path == com2; });

  ASSERT_EQ(survey.comNames.size(), 10u);
  EXPECT_EQ(survey.comNames[1].name, "COM2");
  EXPECT_EQ(survey.comNames[1].windowName, "COM.02");
  EXPECT_EQ(survey.comNames[1].device, com2);
  EXPECT_TRUE(survey.comNames[1].exists);
  EXPECT_FALSE(survey.comNames[0].exists);
  EXPECT_EQ(survey.comNames[9].windowName, "COM.10");

  ASSERT_EQ(survey.usbAdapters.size(), 1u);
  EXPECT_EQ(survey.usbAdapters[0].serial, "A1");
  ASSERT_EQ(survey.otherPorts.size(), 1u);  // the COM device is not listed again
  EXPECT_EQ(survey.otherPorts[0].path, "/dev/ttyAMA0");
  EXPECT_EQ(survey.virtualBoxes, std::vector<std::string>{"/dev/pts/4"});
}

TEST(PortSurveyTest, NamesTellAdaptersAndBoxesApart) {
  EXPECT_EQ(AdapterName(Adapter("/dev/ttyUSB1", "B7")), "FT232R USB UART (ttyUSB1)");
  EXPECT_EQ(AdapterIdentity(Adapter("/dev/ttyUSB1", "B7")),
            "0403:6001 FTDI FT232R USB UART, serial B7");
  EXPECT_EQ(VirtualBoxName("/dev/pts/3"), "Virtual box pts/3");

  // Without a product of its own, a port that only names itself is shown by its path.
  EXPECT_EQ(AdapterName({"/dev/ttyS12", "ttyS12"}), "/dev/ttyS12");
  PortInfo anonymous{"/dev/ttyACM0", ""};
  anonymous.usb = true;
  EXPECT_EQ(AdapterName(anonymous), "/dev/ttyACM0");
  EXPECT_EQ(AdapterIdentity(anonymous), "");
}

}  // namespace
}  // namespace vn

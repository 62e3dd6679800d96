// The port list: ten fixed entries first, then the system's other ports and the virtual boxes,
// each device once, and a refresh that keeps the user's choice.
#include <QTest>

#include "app/port_list.h"
#include "test_registry.h"

class PortListTest : public QObject {
  Q_OBJECT
  static vn::PortInfo UsbAdapter() {
    vn::PortInfo port{"/dev/ttyUSB1", "CP2102 USB to UART"};
    port.usb = true;
    port.product = "CP2102 USB to UART";
    port.serial = "0001";
    return port;
  }

 private slots:
  void fixedEntriesThenOtherPortsThenBoxes() {
    const QString fixedDevice = QString::fromStdString(vn::ComDeviceName("COM.02"));
    const auto entries = vn::ComposePortEntries(
        {{"/dev/ttyUSB0", "USB serial"}, {fixedDevice.toStdString(), "built in"}, UsbAdapter()},
        {"/dev/pts/7", "/dev/ttyUSB0"});
    QStringList names;
    for (const auto& entry : entries) names << entry.name;
    QCOMPARE(names, (QStringList{"COM.01", "COM.02", "COM.03", "COM.04", "COM.05", "COM.06",
                                 "COM.07", "COM.08", "COM.09", "COM.10", "/dev/ttyUSB1",
                                 "/dev/ttyUSB0", "/dev/pts/7"}));
    QCOMPARE(entries[1].details, fixedDevice);
    QCOMPARE(entries[11].details, QStringLiteral("USB serial"));
    // An adapter and a virtual box read as what they are, not as a bare device path.
    QCOMPARE(entries[10].text, QStringLiteral("CP2102 USB to UART (ttyUSB1)"));
    QVERIFY(entries[10].details.contains(QStringLiteral("serial 0001")));
    QCOMPARE(entries[12].text, QStringLiteral("Virtual box pts/7"));
  }

  void refreshKeepsTheChoice() {
    std::vector<std::string> boxes{"/dev/pts/3", "/dev/pts/4"};
    vn::PortComboBox combo(nullptr, [&boxes] { return vn::ComposePortEntries({}, boxes); });
    QCOMPARE(combo.SelectedPortName(), QStringLiteral("COM.01"));
    combo.setCurrentIndex(combo.findData(QStringLiteral("/dev/pts/4")));
    boxes = {"/dev/pts/4", "/dev/pts/9"};
    combo.Refresh();
    QCOMPARE(combo.SelectedPortName(), QStringLiteral("/dev/pts/4"));
    QCOMPARE(combo.count(), vn::kFixedPortCount + 2);
    // The chosen box went away: it stays chosen (and listed) rather than silently changing.
    boxes.clear();
    combo.Refresh();
    QCOMPARE(combo.SelectedPortName(), QStringLiteral("/dev/pts/4"));
    QCOMPARE(combo.count(), vn::kFixedPortCount + 1);
  }

  void refreshIsNotAChoice() {
    vn::PortComboBox combo(nullptr, [] { return vn::ComposePortEntries({}, {}); });
    int chosen = 0;
    connect(&combo, &QComboBox::activated, this, [&chosen] { ++chosen; });
    connect(&combo, &QComboBox::currentIndexChanged, this, [&chosen] { ++chosen; });
    combo.Refresh();
    QCOMPARE(chosen, 0);
  }
};

VN_REGISTER_TEST(PortListTest)
#include "port_list_test.moc"

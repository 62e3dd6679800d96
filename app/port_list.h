#pragma once
// The entries of the port list: the ten fixed "COM.01".."COM.10", then the other serial ports
// the system reports (USB adapters first, by product and device: "FT232R USB UART (ttyUSB0)"), then
// the virtual boxes running for this user ("Virtual box pts/3"). The tooltip tells the rest.
#include <QComboBox>
#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "link/port_survey.h"
#include "link/system_port.h"

namespace vn {

inline constexpr int kFixedPortCount = kComNameCount;

struct PortEntry {
  QString text;     // what the list shows
  QString name;     // what OpenComPort is given: "COM.03" or a device path
  QString details;  // the tooltip: the device behind a fixed entry, a port's description
};

// Pure composition, so the order and the removal of repeats can be checked without devices.
std::vector<PortEntry> ComposePortEntries(const std::vector<PortInfo>& systemPorts,
                                          const std::vector<std::string>& virtualBoxes);
// The entries for the ports present right now.
std::vector<PortEntry> CurrentPortEntries();

// CB_Com: a list without typing that refreshes its entries each time it is opened, keeping the
// selected entry selected (and listed, even if its device went away meanwhile).
class PortComboBox : public QComboBox {
  Q_OBJECT
 public:
  using EntrySource = std::function<std::vector<PortEntry>()>;
  explicit PortComboBox(QWidget* parent = nullptr, EntrySource source = CurrentPortEntries);

  void Refresh();
  // The index of the entry for `name`, added at the end if it is not listed.
  int EnsureEntry(const QString& name);
  // The name to open for the selected entry.
  QString SelectedPortName() const;

  void showPopup() override;

 private:
  void AddEntry(const PortEntry& entry);
  EntrySource source_;
};

}  // namespace vn

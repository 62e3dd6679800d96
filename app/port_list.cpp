#include "app/port_list.h"

#include <QAbstractItemView>

#include "link/box_announce.h"
#include "link/port_survey.h"

namespace vn {
namespace {

constexpr int kPopupMinimumWidth = 260;

}  // namespace

std::vector<PortEntry> ComposePortEntries(const std::vector<PortInfo>& systemPorts,
                                          const std::vector<std::string>& virtualBoxes) {
  // Whether a COM device exists does not matter here: the list always offers all ten.
  const PortSurvey survey =
      ComposePortSurvey(systemPorts, virtualBoxes, [](const std::string&) { return true; });
  std::vector<PortEntry> entries;
  for (const ComNameEntry& com : survey.comNames) {
    const QString name = QString::fromStdString(com.windowName);
    entries.push_back({name, name, QString::fromStdString(com.device)});
  }
  for (const auto* ports : {&survey.usbAdapters, &survey.otherPorts}) {
    for (const PortInfo& port : *ports) {
      const std::string details = port.usb ? AdapterIdentity(port) : port.description;
      entries.push_back({QString::fromStdString(AdapterName(port)),
                         QString::fromStdString(port.path),
                         QString::fromStdString(details.empty() ? port.path : details)});
    }
  }
  for (const std::string& box : survey.virtualBoxes) {
    const QString path = QString::fromStdString(box);
    entries.push_back({QString::fromStdString(VirtualBoxName(box)), path,
                       QStringLiteral("vespanode-box on %1").arg(path)});
  }
  return entries;
}

std::vector<PortEntry> CurrentPortEntries() {
  return ComposePortEntries(ListSystemPorts(), ListAnnouncedBoxes());
}

PortComboBox::PortComboBox(QWidget* parent, EntrySource source)
    : QComboBox(parent), source_(std::move(source)) {
  setEditable(false);
  setMaxVisibleItems(kFixedPortCount);
  // Styles that open the list over the box itself ignore the limit of visible entries.
  setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  // The list may be wider than the box, so that an adapter's name shows in full.
  view()->setTextElideMode(Qt::ElideNone);
  view()->setMinimumWidth(kPopupMinimumWidth);
  Refresh();
}

void PortComboBox::AddEntry(const PortEntry& entry) {
  addItem(entry.text, entry.name);
  setItemData(count() - 1, entry.details, Qt::ToolTipRole);
}

void PortComboBox::Refresh() {
  const QString selected = SelectedPortName();
  const QSignalBlocker quiet(this);  // refreshing is not choosing
  clear();
  for (const PortEntry& entry : source_()) AddEntry(entry);
  setCurrentIndex(selected.isEmpty() ? 0 : EnsureEntry(selected));
}

int PortComboBox::EnsureEntry(const QString& name) {
  const int index = findData(name);
  if (index >= 0) return index;
  AddEntry({name, name, QString()});
  return count() - 1;
}

QString PortComboBox::SelectedPortName() const {
  return currentData().toString();
}

void PortComboBox::showPopup() {
  Refresh();
  QComboBox::showPopup();
}

}  // namespace vn

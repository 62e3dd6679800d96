#include "app/port_combo_box.h"

#include <QAbstractItemView>

namespace vn {
namespace {

constexpr int kPopupMinimumWidth = 260;

}  // namespace

PortComboBox::PortComboBox(QWidget* parent) : QComboBox(parent) {
  setEditable(false);
  setMaxVisibleItems(kFixedPortCount);
  // Styles that open the list over the box itself ignore the limit of visible entries.
  setStyleSheet(QStringLiteral("QComboBox { combobox-popup: 0; }"));
  view()->setTextElideMode(Qt::ElideNone);
  view()->setMinimumWidth(kPopupMinimumWidth);
}

void PortComboBox::SetEntries(const std::vector<PortEntry>& entries, int selected) {
  const QSignalBlocker quiet(this);
  if (entries != entries_) {
    entries_ = entries;
    clear();
    for (const PortEntry& entry : entries_) {
      addItem(QString::fromStdString(entry.text), QString::fromStdString(entry.name));
      setItemData(count() - 1, QString::fromStdString(entry.details), Qt::ToolTipRole);
    }
  }
  setCurrentIndex(selected);
}

void PortComboBox::showPopup() {
  if (onOpening) onOpening();
  QComboBox::showPopup();
}

}  // namespace vn

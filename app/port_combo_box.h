#pragma once
// CB_Com: a list without typing whose entries are listed again each time it is opened, so that an
// adapter plugged in meanwhile shows up. The list may be wider than the box, so that an adapter's
// name shows in full; each entry's tooltip tells its device.
#include <QComboBox>
#include <functional>
#include <vector>

#include "form/port_entries.h"

namespace vn {

class PortComboBox : public QComboBox {
 public:
  explicit PortComboBox(QWidget* parent = nullptr);

  // Called before the list opens; it refreshes the entries through SetEntries.
  std::function<void()> onOpening;

  // Shows `entries` with `selected` chosen, quietly: showing is not choosing.
  void SetEntries(const std::vector<PortEntry>& entries, int selected);

  void showPopup() override;

 private:
  std::vector<PortEntry> entries_;
};

}  // namespace vn

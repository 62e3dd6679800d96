#pragma once
// The About window: name, version, requirements and the list of changes over the versions.
#include <QDialog>
#include <QStringList>

namespace vn {

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget* parent = nullptr);

  // The lines of the change list ListBox_Modif, in order.
  static QStringList ModificationLines();
};

}  // namespace vn

#pragma once
// The About window: name, version, requirements and the list of changes over the versions.
#include <QDialog>

namespace vn {

class TFormAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TFormAbout(QWidget* parent = nullptr);
};

}  // namespace vn

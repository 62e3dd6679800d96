#pragma once
// The port lamp: a small filled circle, red while the port is closed, lime while it is open.
#include <QColor>
#include <QWidget>

namespace vn {

class ComStateLamp : public QWidget {
  Q_OBJECT
 public:
  explicit ComStateLamp(QWidget* parent = nullptr);

  void SetPortOpen(bool open);
  QColor Colour() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool open_ = false;
};

}  // namespace vn

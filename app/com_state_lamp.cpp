#include "app/com_state_lamp.h"

#include <QPainter>

namespace vn {

ComStateLamp::ComStateLamp(QWidget* parent) : QWidget(parent) {}

void ComStateLamp::SetPortOpen(bool open) {
  if (open_ == open) return;
  open_ = open;
  update();
}

QColor ComStateLamp::Colour() const {
  return open_ ? QColor(0x00, 0xFF, 0x00) : QColor(0xFF, 0, 0);
}

void ComStateLamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Colour());
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace vn

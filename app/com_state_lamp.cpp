#include "app/com_state_lamp.h"

#include <QPainter>

#include "form/status_tone.h"

namespace vn {

ComStateLamp::ComStateLamp(QWidget* parent) : QWidget(parent) {}

void ComStateLamp::SetPortOpen(bool open) {
  if (open_ == open) return;
  open_ = open;
  update();
}

QColor ComStateLamp::Colour() const {
  const Rgb colour = LampColour(open_);
  return QColor(colour.red, colour.green, colour.blue);
}

void ComStateLamp::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(Qt::black, 1));
  painter.setBrush(Colour());
  painter.drawEllipse(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}

}  // namespace vn

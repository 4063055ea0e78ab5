#include "vqscwlib/selector/level_meter.h"

#include <QPainter>

namespace vqscw {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent), idle_colour_(Qt::white) {}

void LevelMeter::setIdleColour(const QColor& colour) {
  idle_colour_ = colour;
  update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), idle_colour_);
}

}  // namespace vqscw

#include "vqscwlib/selector/level_meter.h"

#include <QPainter>

#include "vqscwlib/selector/preview_api.h"
#include "vqscwlib/selector/preview_rules.h"

namespace vqscw {

LevelMeter::LevelMeter(QWidget* parent) : QWidget(parent), idle_colour_(Qt::white) {}

void LevelMeter::setIdleColour(const QColor& colour) {
  idle_colour_ = colour;
  update();
}

void LevelMeter::setLevelSource(PreviewApi* preview) {
  preview_ = preview;
  update();
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  int32_t levels[2] = {0, 0};
  if (preview_ == nullptr ||
      preview_->GetLevels(&levels[kMeterLeft], &levels[kMeterRight]) != S_OK) {
    painter.fillRect(rect(), idle_colour_);
    return;
  }
  // Qt paints through a buffer of its own, so the meter never shows half drawn.
  painter.fillRect(rect(), Qt::black);
  const MeterRect item = {0, 0, width(), height()};
  for (MeterColumn column : {kMeterLeft, kMeterRight}) {
    const int lit = LitSegments(levels[column]);
    for (int segment = 0; segment < lit; ++segment) {
      const MeterRect r = SegmentRect(item, column, segment);
      const Rgb colour = SegmentColour(segment);
      painter.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top),
                       QColor(colour.red, colour.green, colour.blue));
    }
  }
}

}  // namespace vqscw

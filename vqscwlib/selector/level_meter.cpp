#include "vqscwlib/selector/level_meter.h"

#include <QPainter>
#include <algorithm>

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

void LevelMeter::setRightMargin(int pixels) {
  right_margin_ = std::max(0, pixels);
  update();
}

QRect LevelMeter::itemRect() const {
  return QRect(0, 0, std::max(0, width() - right_margin_), height());
}

void LevelMeter::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  int32_t levels[2] = {0, 0};
  showing_ =
      preview_ != nullptr && preview_->GetLevels(&levels[kMeterLeft], &levels[kMeterRight]) == S_OK;
  if (!showing_) {
    lit_[0] = lit_[1] = 0;
    painter.fillRect(rect(), idle_colour_);
    return;
  }
  // Qt paints through a buffer of its own, so the meter never shows half drawn.
  const QRect area = itemRect();
  painter.fillRect(rect(), idle_colour_);
  painter.fillRect(area, Qt::black);
  const MeterRect item = {area.left(), area.top(), area.right() + 1, area.bottom() + 1};
  for (MeterColumn column : {kMeterLeft, kMeterRight}) {
    const int lit = LitSegments(levels[column]);
    lit_[column] = lit;
    for (int segment = 0; segment < lit; ++segment) {
      const MeterRect r = SegmentRect(item, column, segment);
      const Rgb colour = SegmentColour(segment);
      painter.fillRect(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top),
                       QColor(colour.red, colour.green, colour.blue));
    }
  }
}

}  // namespace vqscw

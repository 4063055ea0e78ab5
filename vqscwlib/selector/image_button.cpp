#include "vqscwlib/selector/image_button.h"

#include <qdrawutil.h>
#include <QPainter>
#include "vqscwlib/selector/artwork.h"
#include "vqscwlib/selector/focus_mark.h"

namespace vqscw {

ImageButton::ImageButton(const QString& text, int cell, QWidget* parent)
    : QPushButton(text, parent), cell_(cell) {}

void ImageButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QRect inside = rect();
  const QBrush face = palette().brush(QPalette::Button);
  qDrawWinButton(&painter, inside, palette(), isDown(), &face);
  inside.adjust(kFrameWidth, kFrameWidth, -kFrameWidth, -kFrameWidth);

  if (hasFocus()) DrawFocusMark(&painter, inside, palette());

  const qreal ratio = devicePixelRatioF();
  if (ratio != image_ratio_) {
    image_ = ButtonCellAt(cell_, ratio);
    image_ratio_ = ratio;
  }
  painter.drawPixmap(inside.left() + kImageInset, inside.top() + kImageInset, image_);

  inside.setLeft(inside.left() + kTextIndent);
  painter.setPen(
      palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
  painter.drawText(inside,
                   Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine | Qt::TextShowMnemonic,
                   text().left(kTextLimit));
}

}  // namespace vqscw

#include "vqscwlib/selector/focus_mark.h"

#include <QPainter>
#include <QPalette>

namespace vqscw {

void DrawFocusMark(QPainter* painter, const QRect& rect, const QPalette& palette) {
  if (rect.width() < 2 || rect.height() < 2) return;
  painter->save();
  painter->setRenderHint(QPainter::Antialiasing, false);
  painter->setPen(QPen(palette.color(QPalette::WindowText), 1, Qt::DotLine));
  painter->setBrush(Qt::NoBrush);
  painter->drawRect(rect.adjusted(0, 0, -1, -1));
  painter->restore();
}

FocusMarkedButton::FocusMarkedButton(const QString& text, QWidget* parent)
    : QPushButton(text, parent) {}

void FocusMarkedButton::paintEvent(QPaintEvent* event) {
  QPushButton::paintEvent(event);
  if (!hasFocus()) return;
  QPainter painter(this);
  DrawFocusMark(&painter, rect().adjusted(kMarkInset, kMarkInset, -kMarkInset, -kMarkInset),
                palette());
}

}  // namespace vqscw

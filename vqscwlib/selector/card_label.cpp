#include "vqscwlib/selector/card_label.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "vqscwlib/selector/focus_mark.h"

namespace vqscw {
namespace {

const QColor kMarkFill(240, 176, 0);
const QColor kMarkEdge(128, 80, 0);

}  // namespace

CardLabel::CardLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setFocusPolicy(Qt::StrongFocus);
}

void CardLabel::setWarningShown(bool shown) {
  if (shown == warning_shown_) return;
  warning_shown_ = shown;
  update();
}

int CardLabel::textWidth() const { return fontMetrics().horizontalAdvance(text()); }

QRect CardLabel::warningMarkRect() const {
  const QRect inside = contentsRect();
  const int size = std::min(inside.height(), 12);
  const int x = std::min(inside.left() + textWidth() + kMarkGap, inside.right() + 1 - size);
  return QRect(x, inside.top() + (inside.height() - size) / 2, size, size);
}

void CardLabel::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_F4:
      if (event->modifiers() == Qt::NoModifier || event->modifiers() == Qt::KeypadModifier) {
        emit menuRequested();
        event->accept();
        return;
      }
      break;
    default:
      break;
  }
  QLabel::keyPressEvent(event);
}

void CardLabel::paintEvent(QPaintEvent* event) {
  QLabel::paintEvent(event);
  QPainter painter(this);
  int right = contentsRect().left() + textWidth() + 1;
  if (warning_shown_) {
    // A triangle with an exclamation mark, drawn as shapes so it is sharp at any scale.
    const QRectF mark = warningMarkRect();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath triangle;
    triangle.moveTo(mark.center().x(), mark.top() + 0.5);
    triangle.lineTo(mark.right() - 0.5, mark.bottom() - 0.5);
    triangle.lineTo(mark.left() + 0.5, mark.bottom() - 0.5);
    triangle.closeSubpath();
    painter.setPen(QPen(kMarkEdge, 1));
    painter.setBrush(kMarkFill);
    painter.drawPath(triangle);
    const qreal cx = mark.center().x();
    const qreal h = mark.height();
    painter.setPen(QPen(Qt::black, std::max<qreal>(1.2, h / 9), Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(cx, mark.top() + h * 0.38), QPointF(cx, mark.top() + h * 0.66));
    painter.drawPoint(QPointF(cx, mark.top() + h * 0.82));
    painter.setRenderHint(QPainter::Antialiasing, false);
    right = mark.toRect().right() + 2;
  }
  if (hasFocus()) {
    DrawFocusMark(&painter, QRect(QPoint(0, 0), QPoint(std::min(right, width() - 1), height() - 1)),
                  palette());
  }
}

}  // namespace vqscw

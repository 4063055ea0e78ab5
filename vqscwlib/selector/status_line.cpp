#include "vqscwlib/selector/status_line.h"

#include <QFrame>

namespace vqscw {

StatusLine::StatusLine(const QString& text, QWidget* parent) : QLabel(text, parent) {
  setTextFormat(Qt::PlainText);
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setLineWidth(1);
  setAutoFillBackground(true);
}

}  // namespace vqscw

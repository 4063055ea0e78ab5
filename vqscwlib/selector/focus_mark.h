// How the dialog's own controls show the keyboard focus: a dotted rectangle in the text colour,
// which stands out on buttons, labels, the list and the trackbar alike, and which no other state
// of a control (the default button's frame, a selected row) looks like.
#ifndef VQSCWLIB_SELECTOR_FOCUS_MARK_H_
#define VQSCWLIB_SELECTOR_FOCUS_MARK_H_

#include <QPushButton>

class QPainter;
class QPalette;
class QRect;

namespace vqscw {

// Draws the mark along the inside of `rect`.
void DrawFocusMark(QPainter* painter, const QRect& rect, const QPalette& palette);

// A push button that adds the focus mark to its style's look: the preset buttons.
class FocusMarkedButton : public QPushButton {
  Q_OBJECT

 public:
  // Room between the button's edge and the mark.
  static constexpr int kMarkInset = 3;

  explicit FocusMarkedButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_FOCUS_MARK_H_

// The volume trackbar: a horizontal slider drawn to fit a small rectangle. A thin sunken groove
// runs across its middle and the handle is as high as the slider, less a one-pixel border where a
// dotted rectangle shows the keyboard focus, so groove, handle and focus mark all lie inside the
// slider however few pixels it has. Pointer and keys work as on any slider.
#ifndef VQSCWLIB_SELECTOR_COMPACT_SLIDER_H_
#define VQSCWLIB_SELECTOR_COMPACT_SLIDER_H_

#include <QSlider>

namespace vqscw {

class CompactSlider : public QSlider {
  Q_OBJECT

 public:
  // Width of the handle along the groove, and the border kept for the focus mark.
  static constexpr int kHandleLength = 7;
  static constexpr int kFocusBorder = 1;

  explicit CompactSlider(QWidget* parent = nullptr);

  // Where the handle is drawn, in the slider's coordinates.
  QRect handleRect() const;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_COMPACT_SLIDER_H_

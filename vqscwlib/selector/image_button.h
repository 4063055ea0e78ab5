// An owner-drawn push button: a raised (or, while pressed, sunken) frame, a focus rectangle, a
// 16 x 16 image cell of the button strip at the frame's inside corner and the text beside it on
// one line. The cell is drawn for the screen the button is on (see ButtonCellAt).
#ifndef VQSCWLIB_SELECTOR_IMAGE_BUTTON_H_
#define VQSCWLIB_SELECTOR_IMAGE_BUTTON_H_

#include <QPixmap>
#include <QPushButton>

namespace vqscw {

class ImageButton : public QPushButton {
  Q_OBJECT

 public:
  // Room between the inside of the frame and the text, for the image.
  static constexpr int kTextIndent = 20;
  static constexpr int kImageInset = 2;
  static constexpr int kFrameWidth = 2;
  static constexpr int kTextLimit = 15;

  // `cell`: the cell of the button strip the button shows.
  ImageButton(const QString& text, int cell, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const int cell_;
  QPixmap image_;  // the cell as drawn for image_ratio_
  qreal image_ratio_ = 0;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_IMAGE_BUTTON_H_

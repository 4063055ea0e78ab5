// The network card label: the address of the card the selector listens on, drawn over the
// dialog's background. It takes the keyboard focus (Tab, or a click), shows it with a dotted
// rectangle around the address, and asks for the card menu when Space, Enter or Return is
// pressed on it. Pointer presses pass on to the dialog, which opens the menu for a press anywhere
// inside the label's rectangle. A warning shows as a small warning mark after the address.
#ifndef VQSCWLIB_SELECTOR_CARD_LABEL_H_
#define VQSCWLIB_SELECTOR_CARD_LABEL_H_

#include <QLabel>

namespace vqscw {

class CardLabel : public QLabel {
  Q_OBJECT

 public:
  // Room between the address and the warning mark.
  static constexpr int kMarkGap = 3;

  explicit CardLabel(const QString& text, QWidget* parent = nullptr);

  // Shows or hides the warning mark. The dialog says what the warning is (tooltip, description).
  void setWarningShown(bool shown);
  bool warningShown() const { return warning_shown_; }

  // Where the warning mark is drawn while shown, in the label's coordinates.
  QRect warningMarkRect() const;

  // Asks for the menu, as the keys do; for screen readers' press action.
  void requestMenu() { emit menuRequested(); }

 signals:
  void menuRequested();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  int textWidth() const;

  bool warning_shown_ = false;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_CARD_LABEL_H_

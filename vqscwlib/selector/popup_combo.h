// A combo box that reports the closing of its drop-down list.
#ifndef VQSCWLIB_SELECTOR_POPUP_COMBO_H_
#define VQSCWLIB_SELECTOR_POPUP_COMBO_H_

#include <QComboBox>

namespace vqscw {

class PopupCombo : public QComboBox {
  Q_OBJECT

 public:
  explicit PopupCombo(QWidget* parent = nullptr);

  void showPopup() override;
  void hidePopup() override;

 signals:
  // The drop-down list has closed. Queued: by the time it arrives, a choice made in the list is
  // the combo's current entry.
  void popupClosed();

 private:
  bool popup_open_ = false;
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_POPUP_COMBO_H_

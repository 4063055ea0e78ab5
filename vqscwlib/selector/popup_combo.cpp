#include "vqscwlib/selector/popup_combo.h"

#include <QMetaObject>

namespace vqscw {

PopupCombo::PopupCombo(QWidget* parent) : QComboBox(parent) {}

void PopupCombo::showPopup() {
  QComboBox::showPopup();
  popup_open_ = true;
}

void PopupCombo::hidePopup() {
  QComboBox::hidePopup();
  if (!popup_open_) return;
  popup_open_ = false;
  QMetaObject::invokeMethod(this, &PopupCombo::popupClosed, Qt::QueuedConnection);
}

}  // namespace vqscw

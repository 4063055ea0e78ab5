// The status line in the dialog's lower band: a sunken line of text that says what plays, or
// how many channels are listed. A screen reader finds it as a status bar named by its accessible
// name whose value is the text shown (see selector_accessibility.h).
#ifndef VQSCWLIB_SELECTOR_STATUS_LINE_H_
#define VQSCWLIB_SELECTOR_STATUS_LINE_H_

#include <QLabel>

namespace vqscw {

class StatusLine : public QLabel {
  Q_OBJECT

 public:
  explicit StatusLine(const QString& text, QWidget* parent = nullptr);
};

}  // namespace vqscw

#endif  // VQSCWLIB_SELECTOR_STATUS_LINE_H_
